// Loading and saving the user's tables through the editor's window: the
// preference file, the "Reconfigure" post on a private bus, OK, License.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <vector>

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include "editor/app_delegate.h"
#include "editor/tests/keys.h"
#include "keymap/keymap.h"
#include "prefs/prefs.h"
#include "prefs/reconfigure.h"
#include "tests/support/event_loop.h"
#include "tests/support/private_bus.h"
#include "tests/support/temp_dir.h"

using vexa::archive::Data;
using vexa::archive::Dictionary;
using namespace std::chrono_literals;

namespace {

// What the preference file holds before the editor starts.
enum class Stored {
    None,               // no file
    Defaults,           // both default tables
    AnsiEscapeOnA,      // ANSI with the A key sending Escape, JIS default
    AnsiWrongLength,    // a 255-byte ANSI table beside the JIS default
    WithOtherEntries,   // the defaults, and entries the editor does not know
};

struct Edit {
    const char* label;
    std::uint32_t basecode;
    std::uint32_t keycode;
};

using Changes = std::vector<std::pair<int, int>>;  // (index, value) over the default table

struct Scenario {
    Stored stored;
    std::vector<Edit> edits;
    bool written;        // Apply replaced (or created) the file
    Changes ansi, jis;   // the file's tables afterwards
};

Data tableData(KeymapType type, const Changes& changes = {}, std::size_t length = 256) {
    Keymap table;
    type == std::string_view(KZ714_TYPE_JIS) ? KZ714defaultOrlaJISKeymap(table) : KZ714defaultOrlaANSIKeymap(table);
    for (auto [index, value] : changes) table[index] = std::uint8_t(value);
    return Data(table, table + length);
}

Dictionary storedRoot(Stored stored) {
    Dictionary inner{{KZ714_TYPE_ANSI, tableData(KZ714_TYPE_ANSI)}, {KZ714_TYPE_JIS, tableData(KZ714_TYPE_JIS)}};
    Dictionary root;
    switch (stored) {
    case Stored::None:
    case Stored::Defaults: break;
    case Stored::AnsiEscapeOnA: inner.set(KZ714_TYPE_ANSI, tableData(KZ714_TYPE_ANSI, {{0x04, 0x29}})); break;
    case Stored::AnsiWrongLength: inner.set(KZ714_TYPE_ANSI, tableData(KZ714_TYPE_ANSI, {}, 255)); break;
    case Stored::WithOtherEntries:
        inner.set("Vexa Orla Prototype", Data{1, 2, 3});
        root.set("LastWindowFrame", "12 34 700 360");
        root.set("Counts", vexa::archive::Array{1, 2});
        break;
    }
    root.set(KZ730_KEYMAP_KEY, inner);
    return root;
}

// The root without the two tables: what a save must keep as it was.
Dictionary withoutTables(Dictionary root) {
    if (auto* inner = root.find(KZ730_KEYMAP_KEY); inner != nullptr && inner->get<Dictionary>() != nullptr) {
        inner->get<Dictionary>()->erase(KZ714_TYPE_ANSI);
        inner->get<Dictionary>()->erase(KZ714_TYPE_JIS);
        if (inner->get<Dictionary>()->empty()) root.erase(KZ730_KEYMAP_KEY);
    }
    return root;
}

// The table the editor should show for a type: the stored one when it can
// be read, else the default.
void expectedShown(const std::optional<Dictionary>& root, KeymapType type, std::uint8_t* table) {
    if (root && KZ730getKeymapFromPrefData(&*root, type, table) == 0) return;
    type == std::string_view(KZ714_TYPE_JIS) ? KZ714defaultOrlaJISKeymap(table) : KZ714defaultOrlaANSIKeymap(table);
}

struct FileStamp {
    ino_t inode = 0;
    timespec mtime{};
    bool operator==(const FileStamp& o) const {
        return inode == o.inode && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

std::optional<FileStamp> stamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileStamp{st.st_ino, st.st_mtim};
}

class PostCounter : public vexa::SetUpperNotificationObserver {
public:
    void setUpperNotification(const vexa::Notification& n) override {
        if (n.object == "Reconfigure") ++count;
    }
    int count = 0;

    // Runs the bus's loop until `expected` posts have arrived, then a little
    // longer so that a post too many shows.
    bool await(int expected) {
        const bool arrived = vexa::test::runDefaultEventLoopUntil([&] { return count >= expected; }, 5s);
        vexa::test::runDefaultEventLoopUntil([] { return false; }, 100ms);
        return arrived && count == expected;
    }
};

class UrlRecorder : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.append(url); }
};

}  // namespace

Q_DECLARE_METATYPE(Scenario)

class SettingsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<vexa::test::PrivateSystemBus> bus;
    PostCounter posts;
    std::unique_ptr<vexa::test::TempDir> home;
    std::unique_ptr<vexa::test::ScopedEnv> homeEnv;
    std::unique_ptr<AppDelegateClass> app;

    std::string prefFile() const { return *home / KZ730_PREF_FILE; }

    // Starts the editor's object as start-up does up to the window.
    void startEditor() {
        app = std::make_unique<AppDelegateClass>();
        app->bindSiblings();
        QCOMPARE(app->readSettings(), 0);
        app->selectKeyboard(kKeymapTypeANSI);
    }

    QPushButton* windowButton(const char* name) const {
        return app->mainWindow()->findChild<QPushButton*>(QLatin1String(name));
    }

private slots:
    void initTestCase() {
        bus = std::make_unique<vexa::test::PrivateSystemBus>();
        QCOMPARE(KZ730registerSetUpperNotification(&posts), 0);
    }

    void cleanupTestCase() {
        KZ730removeSetUpperNotification(&posts);
        bus.reset();
    }

    void init() {
        home = std::make_unique<vexa::test::TempDir>();
        homeEnv = std::make_unique<vexa::test::ScopedEnv>("HOME", home->path().c_str());
        posts.count = 0;
    }

    void cleanup() {
        app.reset();
        homeEnv.reset();
        home.reset();
    }

    void applySavesWhenATableDiffers_data() {
        QTest::addColumn<Scenario>("scenario");
        QTest::newRow("no file: defaults shown, both tables written")
            << Scenario{Stored::None, {}, true, {}, {}};
        QTest::newRow("no change: the file is left alone")
            << Scenario{Stored::Defaults, {}, false, {}, {}};
        QTest::newRow("a stored table is shown and kept")
            << Scenario{Stored::AnsiEscapeOnA, {}, false, {{0x04, 0x29}}, {}};
        QTest::newRow("a JIS change alone writes both tables")
            << Scenario{Stored::Defaults, {{"jis", 0x04, 0x29}}, true, {}, {{0x04, 0x29}}};
        QTest::newRow("an ANSI table of 255 bytes counts as missing")
            << Scenario{Stored::AnsiWrongLength, {}, true, {}, {}};
        QTest::newRow("other entries survive a save")
            << Scenario{Stored::WithOtherEntries, {{"ansi_fn", 0x39, 0xE0}}, true, {{0x39, 0xE0}}, {}};
        QTest::newRow("a change made back is no change")
            << Scenario{Stored::Defaults, {{"ansi", 0x04, 0x29}, {"ansi", 0x04, 0x04}}, false, {}, {}};
    }

    void applySavesWhenATableDiffers() {
        QFETCH(Scenario, scenario);
        if (scenario.stored != Stored::None) {
            const Dictionary root = storedRoot(scenario.stored);
            QCOMPARE(KZ730writeNewPrefFile(nullptr, &root, nullptr), 0);
        }
        const std::optional<Dictionary> before = KZ730readNewPrefFile(nullptr);
        const std::optional<FileStamp> stampBefore = stamp(prefFile());

        startEditor();
        for (KeymapType type : {KZ714_TYPE_ANSI, KZ714_TYPE_JIS}) {
            Keymap shown, expected;
            app->keyboardTab->getKeymapForKeymapType(shown, type == std::string_view(KZ714_TYPE_JIS) ? 2 : 1);
            expectedShown(before, type, expected);
            QVERIFY2(KZ714compareKeymap(shown, expected), type);
        }
        for (const Edit& edit : scenario.edits) {
            KeyButtonClass* key = vexa::test::keyOn(app->keyboardTab, edit.label, edit.basecode);
            QVERIFY(key != nullptr);
            key->setKeycode(edit.keycode);
        }
        windowButton("applyButton")->click();

        QVERIFY(posts.await(1));
        const std::optional<FileStamp> stampAfter = stamp(prefFile());
        QVERIFY(stampAfter);
        QCOMPARE(!(stampBefore && *stampBefore == *stampAfter), scenario.written);

        const std::optional<Dictionary> after = KZ730readNewPrefFile(nullptr);
        QVERIFY(after);
        const struct {
            KeymapType type;
            const Changes& changes;
        } tables[] = {{KZ714_TYPE_ANSI, scenario.ansi}, {KZ714_TYPE_JIS, scenario.jis}};
        for (const auto& t : tables) {
            Keymap stored;
            QCOMPARE(KZ730getKeymapFromPrefData(&*after, t.type, stored), 0);
            QCOMPARE(Data(stored, stored + 256), tableData(t.type, t.changes));
        }
        if (before) QVERIFY(withoutTables(*after) == withoutTables(*before));
    }

    void everyApplyPostsAgain() {
        startEditor();
        windowButton("applyButton")->click();
        windowButton("applyButton")->click();
        QVERIFY(posts.await(2));
    }

    void okSavesThenEndsTheEventLoop() {
        startEditor();
        vexa::test::keyOn(app->keyboardTab, "ansi", 0x04)->setKeycode(0x29);
        bool ended = false;
        QTimer::singleShot(0, this, [this] { windowButton("okButton")->click(); });
        QTimer::singleShot(20000, this, [] { QCoreApplication::exit(1); });
        connect(qApp, &QCoreApplication::aboutToQuit, this, [&ended] { ended = true; });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(ended);
        QVERIFY(posts.await(1));
        Keymap stored;
        const std::optional<Dictionary> root = KZ730readNewPrefFile(nullptr);
        QVERIFY(root && KZ730getKeymapFromPrefData(&*root, KZ714_TYPE_ANSI, stored) == 0);
        QCOMPARE(stored[0x04], std::uint8_t(0x29));
    }

    void licenseOpensTheBundledDocument() {
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
        startEditor();
        windowButton("licenseButton")->click();
        QCOMPARE(recorder.opened.size(), 1);
        QFile document(recorder.opened[0].toLocalFile());
        QCOMPARE(QFileInfo(document).fileName(), QStringLiteral("License.rtf"));
        QVERIFY(document.open(QIODevice::ReadOnly));
        QVERIFY(document.readAll().startsWith("{\\rtf1"));

        // Missing from the application's folders: nothing happens.
        app->resourceFolders = {QString::fromStdString(home->path())};
        windowButton("licenseButton")->click();
        QCOMPARE(recorder.opened.size(), 1);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }

    void licenseIsFoundWhereThePackagePutsIt_data() {
        QTest::addColumn<QString>("program");   // the program's folder, below a root
        QTest::addColumn<QString>("document");  // the licence document's folder, below it too
        QTest::newRow("beside the program") << "opt/vexa" << "opt/vexa";
        QTest::newRow("program in bin, document in its prefix's share")
            << "usr/bin" << "usr/share/vexaorla";
        QTest::newRow("program in lib/vexaorla, document in a data folder of the desktop")
            << "usr/lib/vexaorla" << "usr/share/vexaorla";
    }

    void licenseIsFoundWhereThePackagePutsIt() {
        QFETCH(QString, program);
        QFETCH(QString, document);
        const vexa::test::TempDir root;
        const QDir top(QString::fromStdString(root.path()));
        QVERIFY(top.mkpath(program) && top.mkpath(document));
        QFile file(top.filePath(document + QStringLiteral("/License.rtf")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("{\\rtf1 licence}") > 0);
        file.close();
        const vexa::test::ScopedEnv dataDirs("XDG_DATA_DIRS", (root / "usr/share").c_str());

        UrlRecorder recorder;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
        startEditor();
        app->resourceFolders = AppDelegateClass::resourceFoldersFor(top.filePath(program));
        windowButton("licenseButton")->click();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(recorder.opened, QList<QUrl>{QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath())});
    }

    void saveIntoAReadOnlyFolderEndsTheEditor() {
        // The preference folder exists but cannot be written. Root writes
        // anywhere, so as root the editor runs as nobody.
        const bool asRoot = ::geteuid() == 0;
        const std::string preferences = *home / "Library/Preferences";
        QCOMPARE(::mkdir((*home / "Library").c_str(), 0755), 0);
        QCOMPARE(::mkdir(preferences.c_str(), 0555), 0);
        QCOMPARE(::chmod(home->path().c_str(), 0755), 0);

        QProcess probe;
        if (asRoot) {
            probe.setChildProcessModifier([] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
            });
        }
        probe.start(QStringLiteral(TERMINATE_PROBE), {QStringLiteral("apply")});
        QVERIFY(probe.waitForFinished(60000));
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.exitCode(), 0);
        // One alert: the file layer's message, and the chain from this site
        // down to the permission error; then the application ended.
        const QStringList lines = QString::fromUtf8(probe.readAllStandardOutput()).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].startsWith(QLatin1String("text=You don't have permission to save the file")), qPrintable(lines[0]));
        QVERIFY(lines[0].endsWith(QStringLiteral("|detail=KeymapEditor 4.0.2: 130.0135, 730.0069, "
                                                 "NSPOSIXErrorDomain(13), NSCocoaErrorDomain(513), ")));
        QCOMPARE(lines[1], QStringLiteral("will-terminate"));
        QVERIFY(!stamp(prefFile()));
        QVERIFY(posts.await(0));
    }
};

QTEST_MAIN(SettingsTest)
#include "settings_test.moc"
