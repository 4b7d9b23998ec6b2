#include "windows_fixture.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>

void WindowsTest::SetUp()
{
    errors.clear();
    Application->ErrorSink = [this](const QString &title, const QString &text) {
        errors.push_back({title, text});
    };
    HasFileName = 0;
    Form1 = new TForm1();
    Form2 = new TForm2();
    Form3 = new TForm3();
}

void WindowsTest::TearDown()
{
    delete Form3;
    delete Form2;
    delete Form1;
    Form1 = nullptr;
    Form2 = nullptr;
    Form3 = nullptr;
    Application->ErrorSink = nullptr;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "ketto-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
}

TempDir::~TempDir()
{
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TApplication application(argc, argv);
    // Qt's file dialogs remember their last folder in the user's settings; tests keep theirs
    // apart so that no earlier run, and no user, changes what a test sees.
    QStandardPaths::setTestModeEnabled(true);
    application.Initialize();
    return RUN_ALL_TESTS();
}
