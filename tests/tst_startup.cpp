// Starts the built program as an operator would, from a working directory of
// the test's choosing, and closes it from inside through a test plugin.
#include <QtTest>

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void startsAndCloses_data();
    void startsAndCloses();
};

void StartupTest::startsAndCloses_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("link");
    QTest::newRow("Close button") << "button" << "" << "Morvane" << "Link";
    QTest::newRow("window frame") << "frame" << "" << "Morvane" << "Link";
    QTest::newRow("Chinese catalogue") << "button" << "chinese" << "Morvane 温湿度模块工具" << "连接";
    QTest::newRow("damaged catalogue") << "button" << "damaged" << "Morvane" << "Link";
}

void StartupTest::startsAndCloses()
{
    QFETCH(QString, how);
    QFETCH(QString, catalogue);
    QFETCH(QString, title);
    QFETCH(QString, link);
    QTemporaryDir workDir;
    QVERIFY(workDir.isValid());
    const QString qm = workDir.filePath("Qm/Chinese.qm");
    if (!catalogue.isEmpty())
        QVERIFY(QDir(workDir.path()).mkdir("Qm"));
    if (catalogue == "chinese")
        QVERIFY(QFile::copy(CATALOGUE_FILE, qm));
    if (catalogue == "damaged") {
        QFile damaged(qm);
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        QFile good(CATALOGUE_FILE);
        QVERIFY(good.open(QIODevice::ReadOnly));
        damaged.write(good.read(40) + QByteArray(200, '\xA5'));
    }

    QProcess morvane;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_PLUGIN_PATH", CLOSER_PLUGIN_DIR);
    env.insert("QT_QPA_GENERIC_PLUGINS", "morvanecloser:" + how);
    morvane.setProcessEnvironment(env);
    morvane.setWorkingDirectory(workDir.path());
    morvane.start(MORVANE_BINARY, QStringList());
    QVERIFY2(morvane.waitForStarted(), qPrintable(morvane.errorString()));
    // It must not pop up anything on its own (the plugin would wait forever
    // behind a modal box).

    QVERIFY2(morvane.waitForFinished(30000), "the program did not close");
    const QString out = QString::fromUtf8(morvane.readAllStandardOutput());
    QCOMPARE(morvane.exitStatus(), QProcess::NormalExit);
    QCOMPARE(morvane.exitCode(), 0);
    // The window was up for a second before it was closed.
    QVERIFY2(out.contains("title=" + title + "\n"), qPrintable(out));
    QVERIFY(out.contains("pushButtonLink=" + link + "\n"));
    // Nothing is written to the working directory.
    QCOMPARE(QDir(workDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             catalogue.isEmpty() ? QStringList() : QStringList{"Qm"});
}

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
