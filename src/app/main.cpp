// The entry function: the start-up order of the three windows, then the main loop.
#include "canvas_window/canvas_window.h"
#include "new_canvas_dialog/new_canvas_dialog.h"
#include "platform/widgets/application.h"
#include "stamp_list_window/stamp_list_window.h"

int main(int argc, char **argv)
{
    TApplication application(argc, argv);
    try {
        Application->Initialize();
        Application->CreateForm(Form1);
        Application->CreateForm(Form2);
        Application->CreateForm(Form3);
    } catch (const EPlatformError &error) {
        Application->ShowException(error);
        return 0;
    }
    Application->Run();
    return 0;
}
