// Replays the saved fuzz inputs (the inputs of past findings and the seed corpora) through the
// same entry points as the fuzz targets, so that a fixed fault stays fixed in every build.
#include "FuzzEntries.h"

#include "core/AppError.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTest>

class TestFuzzRegressions : public QObject {
    Q_OBJECT

private:
    static QString fuzzDir() { return qEnvironmentVariable("CHANTEST_SOURCE_DIR") + QStringLiteral("/fuzz"); }

    static const fuzz::Target* targetNamed(const QString& name) {
        for (const fuzz::Target& t : fuzz::targets())
            if (name == QLatin1String(t.name))
                return &t;
        return nullptr;
    }

private Q_SLOTS:
    void folders_nameTargets() {
        // An input in a folder no entry point reads would never be replayed.
        int folders = 0;
        for (const char* kind : {"corpus", "regressions"}) {
            const QDir dir(fuzzDir() + u'/' + QLatin1String(kind));
            for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                QVERIFY2(targetNamed(name), qPrintable(kind + QStringLiteral("/") + name));
                ++folders;
            }
        }
        for (const fuzz::Target& t : fuzz::targets())
            QVERIFY2(QDir(fuzzDir() + QStringLiteral("/corpus/") + QLatin1String(t.name)).exists(), t.name);
        QVERIFY(folders >= int(fuzz::targets().size()));
    }

    void replay_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("file");
        int inputs = 0;
        for (const char* kind : {"regressions", "corpus"}) {
            QDirIterator it(fuzzDir() + u'/' + QLatin1String(kind), QDir::Files,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString file = it.next();
                const QString target = QFileInfo(file).dir().dirName();
                QTest::newRow(qPrintable(QLatin1String(kind) + u'/' + target + u'/' + it.fileName()))
                    << target << file;
                ++inputs;
            }
        }
        QVERIFY2(inputs > 0, "no saved fuzz inputs found");
    }

    void replay() {
        QFETCH(QString, target);
        QFETCH(QString, file);
        const fuzz::Target* t = targetNamed(target);
        QVERIFY2(t, qPrintable(target));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        try {
            t->entry(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
        } catch (const fuzz::CheckFailed& e) {
            QFAIL(e.what());
        } catch (const AppError& e) {
            QFAIL(qPrintable(QStringLiteral("the reader raised: ") + e.text()));
        }
    }
};

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "test_fuzz_regressions.moc"
