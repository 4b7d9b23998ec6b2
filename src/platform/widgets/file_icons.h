// Icons and type names for the file dialogs that never open the files they describe.
#pragma once

#include <QFileIconProvider>

// Qt's own provider sniffs a file's content to find its type, and reading some files blocks
// for ever (/proc/kmsg, a named pipe, a hung network mount), which would freeze the dialog and
// the whole program with it. This one judges by the name and the kind of entry only.
class TNameOnlyIconProvider : public QFileIconProvider {
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo &info) const override;
    QString type(const QFileInfo &info) const override;
};
