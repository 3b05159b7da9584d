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
    QTest::newRow("Close button") << "button";
    QTest::newRow("window frame") << "frame";
}

void StartupTest::startsAndCloses()
{
    QFETCH(QString, how);
    QTemporaryDir workDir;
    QVERIFY(workDir.isValid());

    QProcess morvane;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_PLUGIN_PATH", CLOSER_PLUGIN_DIR);
    env.insert("QT_QPA_GENERIC_PLUGINS", "morvanecloser:" + how);
    morvane.setProcessEnvironment(env);
    morvane.setWorkingDirectory(workDir.path());
    morvane.start(MORVANE_BINARY, QStringList());
    QVERIFY2(morvane.waitForStarted(), qPrintable(morvane.errorString()));

    QVERIFY2(morvane.waitForFinished(30000), "the program did not close");
    const QString out = QString::fromUtf8(morvane.readAllStandardOutput());
    QCOMPARE(morvane.exitStatus(), QProcess::NormalExit);
    QCOMPARE(morvane.exitCode(), 0);
    // The window was up for a second before it was closed, in English.
    QVERIFY2(out.contains("title=Morvane\n"), qPrintable(out));
    QVERIFY(out.contains("pushButtonLink=Link\n"));
    QVERIFY(QDir(workDir.path()).isEmpty());
}

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
