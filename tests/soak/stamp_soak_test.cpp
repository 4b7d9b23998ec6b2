// A long stamping session through the real windows: a thousand stamps of each picture kind
// must leave the process's memory where it was after warming up. Every stamp decodes a file,
// copies it into the staging image and (for the GIF) makes two temporary bitmaps, so a leak
// of any of these per stamp shows up here as tens of megabytes.
#include <QCheckBox>
#include <QCoreApplication>
#include <QtGlobal>
#include <QListWidget>

#include <cstdio>
#include <fstream>
#include <string>

#include "windows_fixture.h"

namespace {

// The resident set size, or the peak of it ("VmHWM"), in KiB.
long StatusKiB(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size()));
    return -1;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

class StampSoakTest : public WindowsTest {};

TEST_F(StampSoakTest, AThousandStampsOfEachKindKeepMemoryFlat)
{
    const std::string dir = KETTO_SOAK_PICTURES;
    const char *names[] = {"stamp.bmp", "stamp.gif", "stamp.jpg", "stamp.png"};
    // A smaller count (KETTO_SOAK_PER_KIND) suits a run under valgrind, which finds leaks by
    // itself; the resident size says nothing there, so only the full session checks it. Under
    // AddressSanitizer freed blocks wait in its quarantine and keep the resident size growing,
    // so there LeakSanitizer alone judges the session.
    const bool fullSession = !qEnvironmentVariableIsSet("KETTO_SOAK_PER_KIND");
    const bool checkResidentSize = fullSession && !kAddressSanitizer;
    const int kinds = 4;
    const int perKind = fullSession ? 1000 : qEnvironmentVariableIntValue("KETTO_SOAK_PER_KIND");
    const int warmUp = perKind / 10;
    ASSERT_GT(warmUp, 0);

    // Each kind must really load, or the session would stamp one picture over and over and
    // measure nothing about the other readers.
    for (const char *name : names) {
        Form1->Image2->SetWidth(1);
        Form1->Image2->SetHeight(1);
        Form1->LoadGra(dir + "/" + name);
        ASSERT_EQ(Form1->Image2->Width(), 96) << name << " did not load";
        ASSERT_EQ(Form1->Image2->Height(), 64) << name << " did not load";
        Form2->ListBox1->addItem(QString::fromStdString(dir + "/" + name));
    }
    // List order takes the four kinds in turn; the frame adds the rectangle to every stamp.
    Form2->CheckBox5->setChecked(true);
    Form2->CheckBox2->setChecked(true);

    long afterWarmUp = 0;
    for (int i = 0; i < kinds * perKind; ++i) {
        // Positions wander over the whole canvas and past its right and bottom edges.
        Form1->PutImage((i * 37) % 430, (i * 53) % 430);
        if (i % 64 == 63)
            QCoreApplication::processEvents();
        if (i == kinds * warmUp - 1) {
            QCoreApplication::processEvents();
            afterWarmUp = StatusKiB("VmRSS");
        }
    }
    QCoreApplication::processEvents();
    const long atEnd = StatusKiB("VmRSS");
    const long peak = StatusKiB("VmHWM");
    const TBitmap *canvas = Form1->Image1->Picture();
    ASSERT_NE(canvas, nullptr);
    std::printf("stamp soak: %d stamps; RSS after warm-up %ld KiB, at end %ld KiB, peak %ld KiB; "
                "canvas %dx%d = %ld KiB of pixels\n",
                kinds * perKind, afterWarmUp, atEnd, peak, canvas->Width(), canvas->Height(),
                static_cast<long>(canvas->Width()) * canvas->Height() * 4 / 1024);

    EXPECT_TRUE(errors.empty()) << errors.front().text.toStdString();
    EXPECT_EQ(Form1->StampIndex, 0);
    ASSERT_GT(afterWarmUp, 0);
    if (checkResidentSize) {
        EXPECT_LE(atEnd - afterWarmUp, 8 * 1024) << "memory grew while stamping";
    }
}

} // namespace
