#include "doctor.h"

#include "diagnosis.h"
#include "exitcode.h"

#include <QJsonDocument>

Doctor::Doctor(ByteLine &line, Console &console, const DoctorOptions &options)
    : m_options(options), m_examination(line, console, options)
{
}

int Doctor::run()
{
    const Observations seen = m_examination.run();
    if (m_examination.stop() != Examination::None)
        return Failed;
    const Diagnosis diagnosis(seen, m_options);
    m_report = m_options.json ? QString::fromUtf8(QJsonDocument(diagnosis.json()).toJson(QJsonDocument::Compact))
                              : diagnosis.text();
    return diagnosis.exitCode();
}
