// A fresh set of the three windows for each test, on Qt's offscreen platform, with the error
// report captured instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <QString>

#include <string>
#include <vector>

#include "canvas_window/canvas_window.h"
#include "new_canvas_dialog/new_canvas_dialog.h"
#include "platform/widgets/application.h"
#include "stamp_list_window/stamp_list_window.h"

struct ErrorReport {
    QString title;
    QString text;
};

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The error reports shown since the test began.
    std::vector<ErrorReport> errors;
};

// A folder under the system's temporary folder that is removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
