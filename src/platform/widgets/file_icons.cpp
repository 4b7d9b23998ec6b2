#include "platform/widgets/file_icons.h"

#include <QFileInfo>

QIcon TNameOnlyIconProvider::icon(const QFileInfo &info) const
{
    if (info.isRoot())
        return icon(Drive);
    return icon(info.isDir() ? Folder : File);
}

QString TNameOnlyIconProvider::type(const QFileInfo &info) const
{
    if (info.isDir())
        return QStringLiteral("Folder");
    const QString suffix = info.suffix();
    return suffix.isEmpty() ? QStringLiteral("File") : suffix.toUpper() + QStringLiteral(" File");
}
