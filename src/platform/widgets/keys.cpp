#include "platform/widgets/keys.h"

#include <Qt>

uint16_t VirtualKeyFromQt(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return VK_DOWN;
    default: break;
    }
    // Letters and digits share their codes with their upper-case ASCII form.
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        return static_cast<uint16_t>(qtKey);
    return 0;
}
