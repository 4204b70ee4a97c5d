#pragma once
// Common set-up for every test executable: headless Qt, and a temporary home folder
// (VORLIX_HOME, HOME, XDG folders) so no test touches the real user's settings or files.
#include <QApplication>
#include <QString>
#include <QTest>

namespace TestSupport {
// Called before the QApplication exists. Returns the temporary home folder.
QString PrepareEnvironment();
// Removes the temporary home folder unless VORLIX_KEEP_TEST_HOME is set.
void CleanUp();
// The folder with the repository's shipped data files.
QString SourceDataDir();
// Waits until pred() is true, running events, for at most timeoutMs. Returns pred().
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 10000);
// A window's part by its object name (null when there is none of that type).
template <class T>
T* Part(const QObject* owner, const QString& name)
{
    return owner->findChild<T*>(name);
}
}

// Like QTEST_MAIN, with the environment prepared first.
#define VORLIX_TEST_MAIN(TestObject) VORLIX_TEST_MAIN_APP(TestObject, QApplication)

// The same with the program's own application class.
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
