#pragma once
// Common set-up for every test executable: headless Qt, and a temporary home folder
// (VORLIX_HOME, HOME, XDG folders) so no test touches the real user's settings or files. The
// session bus address reaches nothing, so no test appears on the desktop's bus; the tests that
// need a bus use the private one (VORLIX_REQUIRE_DBUS).
//
// Logic tests use VORLIX_TEST_MAIN_CORE (a QCoreApplication, Qt Core only, library
// vorlix_testsupport). Window tests use VORLIX_TEST_MAIN or VORLIX_TEST_MAIN_APP (a
// QApplication); those are there only when the test links Qt Widgets (vorlix_testsupport_gui).
#include <QCoreApplication>
#include <QString>
#include <QTest>
#include <functional>

namespace TestSupport {
// Called before the application object exists. Returns the temporary home folder.
QString PrepareEnvironment();
// Removes the temporary home folder unless VORLIX_KEEP_TEST_HOME is set.
void CleanUp();
// The folder with the repository's shipped data files.
QString SourceDataDir();
// Waits until pred() is true, running events, for at most timeoutMs. Returns pred().
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 10000);
// Runs events for ms milliseconds and returns true when pred() stayed false all that time
// (it is checked after every round of events); returns false at once when it became true.
// For tests that show that something does not happen.
bool ExpectNothingFor(int ms, const std::function<bool()>& pred);

// The services some tests need. scripts/run-tests.sh starts them and exports the lines
// their scripts print (scripts/test-services/*.sh).
enum class TService {
    Inn,        // the INN news server: VORLIX_INN_HOST, VORLIX_INN_PORT, VORLIX_INN_* groups
    PulseAudio, // the private sound server with null sinks: PULSE_SERVER, VORLIX_PULSE_SPARE_SINK
    DBus,       // the private session bus: VORLIX_DBUS_ADDRESS
    X11,        // a real X server (Xvfb) for the xcb platform: DISPLAY
};
// True when CI=true is in the environment: a missing service is then a failure, not a skip.
bool UnderCi();
// True when the environment of the service is there.
bool ServiceAvailable(TService service);
// Why a test cannot run without the service, one line.
QByteArray MissingServiceText(TService service);
// Points DBUS_SESSION_BUS_ADDRESS at the private session bus, for this process and the programs
// it starts.
void UseTestBus();
// True when the program is on the PATH.
bool ProgramAvailable(const QString& program);
QByteArray MissingProgramText(const QString& program);
// A small file system (tmpfs) mounted on a folder for the life of the object, for the tests
// of a full disk. Mounting needs root: when it is not permitted, Mounted() is false.
class TSmallDisk {
public:
    TSmallDisk(const QString& folder, const char* size);
    ~TSmallDisk();
    TSmallDisk(const TSmallDisk&) = delete;
    TSmallDisk& operator=(const TSmallDisk&) = delete;
    bool Mounted() const { return mounted; }
    // Takes up whatever room is left with a file of that name in the folder.
    void Fill(const QString& fileName = QStringLiteral("filler")) const;

private:
    QString folder;
    bool mounted = false;
};

// A window's part by its object name (null when there is none of that type).
template <class T>
T* Part(const QObject* owner, const QString& name)
{
    return owner->findChild<T*>(name);
}
}

// Ends the current test function when a service or program it needs is not there: it skips
// with one line saying how to get it, and fails instead under CI (CI=true), where every
// service must run. Use at the start of a test function or of initTestCase.
#define VORLIX_MISSING(text)                                                                   \
    do {                                                                                       \
        const QByteArray vorlixMissingText_ = (text);                                          \
        if (TestSupport::UnderCi())                                                            \
            QFAIL(vorlixMissingText_.constData());                                             \
        QSKIP(vorlixMissingText_.constData());                                                 \
    } while (0)

#define VORLIX_REQUIRE_SERVICE(service)                                                        \
    do {                                                                                       \
        if (!TestSupport::ServiceAvailable(service))                                           \
            VORLIX_MISSING(TestSupport::MissingServiceText(service));                          \
    } while (0)

#define VORLIX_REQUIRE_INN() VORLIX_REQUIRE_SERVICE(TestSupport::TService::Inn)
#define VORLIX_REQUIRE_PULSE() VORLIX_REQUIRE_SERVICE(TestSupport::TService::PulseAudio)
// The private session bus, which then becomes this process's session bus.
#define VORLIX_REQUIRE_DBUS()                                                                  \
    do {                                                                                       \
        VORLIX_REQUIRE_SERVICE(TestSupport::TService::DBus);                                   \
        TestSupport::UseTestBus();                                                             \
    } while (0)
// A test of what the X server shows. Its executable runs on the xcb platform (CTest sets
// QT_QPA_PLATFORM=xcb) and starts offscreen when there is no DISPLAY, so it can skip.
#define VORLIX_REQUIRE_X11() VORLIX_REQUIRE_SERVICE(TestSupport::TService::X11)

#define VORLIX_REQUIRE_PROGRAM(program)                                                        \
    do {                                                                                       \
        if (!TestSupport::ProgramAvailable(program))                                           \
            VORLIX_MISSING(TestSupport::MissingProgramText(program));                          \
    } while (0)

// Like QTEST_MAIN, with the environment prepared first and the given application class.
#define VORLIX_TEST_MAIN_APP(TestObject, AppClass)                     \
    int main(int argc, char** argv)                                    \
    {                                                                  \
        TestSupport::PrepareEnvironment();                             \
        int rc;                                                        \
        {                                                              \
            AppClass app(argc, argv);                                  \
            app.setAttribute(Qt::AA_Use96Dpi, true);                   \
            TestObject tc;                                             \
            QTEST_SET_MAIN_SOURCE_PATH                                 \
            rc = QTest::qExec(&tc, argc, argv);                        \
        }                                                              \
        TestSupport::CleanUp();                                        \
        return rc;                                                     \
    }

// A logic test: no screen, no widgets.
#define VORLIX_TEST_MAIN_CORE(TestObject) VORLIX_TEST_MAIN_APP(TestObject, QCoreApplication)

#if defined(QT_WIDGETS_LIB)
#include <QApplication>
// A window test: a QApplication at 96 dpi on the offscreen platform.
#define VORLIX_TEST_MAIN(TestObject) VORLIX_TEST_MAIN_APP(TestObject, QApplication)
#else
#define VORLIX_TEST_MAIN(TestObject)                                                           \
    static_assert(false, "VORLIX_TEST_MAIN starts a QApplication: window tests link "          \
                         "vorlix_testsupport_gui; logic tests use VORLIX_TEST_MAIN_CORE");
#endif
