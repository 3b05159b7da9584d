// Starts the built program as an operator would, from a working directory of
// the test's choosing, and closes it from inside through the operator plugin.
#include <QtTest>

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void startsAndCloses_data()
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

    void startsAndCloses()
    {
        QFETCH(QString, how);
        QFETCH(QString, catalogue);
        QFETCH(QString, title);
        QFETCH(QString, link);
        QTemporaryDir workDir;
        if (!catalogue.isEmpty()) {
            QVERIFY(QDir(workDir.path()).mkdir("Qm"));
            QFile good(CATALOGUE_FILE);
            QVERIFY(good.open(QIODevice::ReadOnly));
            QFile qm(workDir.filePath("Qm/Chinese.qm"));
            QVERIFY(qm.open(QIODevice::WriteOnly));
            qm.write(catalogue == "chinese" ? good.readAll() : good.read(40) + QByteArray(200, '\xA5'));
        }

        QProcess morvane;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_PLUGIN_PATH", OPERATOR_PLUGIN_DIR);
        env.insert("QT_QPA_GENERIC_PLUGINS", "morvaneoperator");
        env.insert("MORVANE_OPERATOR", "close-" + how);
        morvane.setProcessEnvironment(env);
        morvane.setWorkingDirectory(workDir.path());
        morvane.start(MORVANE_BINARY, QStringList());
        // Anything modal popping up on its own would keep it from closing.
        QVERIFY2(morvane.waitForFinished(30000), "the program did not close");
        const QString out = QString::fromUtf8(morvane.readAllStandardOutput());
        QCOMPARE(morvane.exitStatus(), QProcess::NormalExit);
        QCOMPARE(morvane.exitCode(), 0);
        QVERIFY2(out.contains("title=" + title + "\n") && out.contains("pushButtonLink=" + link + "\n"),
                 qPrintable(out));
        // Nothing is written to the working directory.
        QCOMPARE(QDir(workDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 catalogue.isEmpty() ? QStringList() : QStringList{"Qm"});
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
