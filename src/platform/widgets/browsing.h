// The file-browsing controls that Qt lacks: a chooser of mounted file systems, a directory
// chooser and a masked file list, linked so that each hands its choice to the next.
#pragma once

#include <QComboBox>
#include <QListWidget>

#include <string>
#include <vector>

class TFileListBox;
class TDirectoryListBox;

// The files of one directory that match a mask, with extended multi-selection. Hidden files and
// directories are left out; names are in byte order.
class TFileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TFileListBox(QWidget *parent = nullptr);

    // The full path without a trailing "/", except for "/" itself.
    const std::string &Directory() const { return directory_; }
    // Lists the directory anew with nothing selected. Throws EInOutError, keeping the former
    // directory and items, when it cannot be read.
    void SetDirectory(const std::string &path);
    // Patterns separated by ";", letter case ignored.
    void SetMask(const std::string &mask);
    const std::string &Mask() const { return mask_; }

    int Count() const { return count(); }
    // The bare file name of item i, as shown (UTF-8).
    std::string FileName(int i) const;
    bool Selected(int i) const;
    void SetSelected(int i, bool selected);

private:
    std::string directory_;
    std::string mask_ = "*";
};

// The path from "/" down to the directory, then its subdirectories. Double-click or Enter on a
// line enters that directory and hands it to the linked file list.
class TDirectoryListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TDirectoryListBox(QWidget *parent = nullptr);

    const std::string &Directory() const { return directory_; }
    // Enters the directory. Throws EInOutError, keeping the former directory, when it cannot be
    // entered.
    void SetDirectory(const std::string &path);
    void SetFileList(TFileListBox *fileList) { fileList_ = fileList; }
    // The full path the given line stands for.
    std::string PathOfLine(int line) const;

private:
    void Fill();

    std::string directory_;
    TFileListBox *fileList_ = nullptr;
};

// The mounted file systems, by mount point. Choosing one moves the linked directory chooser to
// its root.
class TDriveComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TDriveComboBox(QWidget *parent = nullptr);

    void SetDirList(TDirectoryListBox *dirList) { dirList_ = dirList; }
    // The mount point of the file system holding this path, selected in the list.
    void SelectDriveOf(const std::string &path);
    // Moves the directory chooser to the root of the drive at this index; on an error the
    // chooser keeps its directory and the list shows its drive again.
    void ChooseDrive(int index);
    std::string Drive() const;

private:
    TDirectoryListBox *dirList_ = nullptr;
};

// The mount points of the machine's file systems, sorted, without repeats.
std::vector<std::string> MountedFileSystems();
// The longest mount point of these that contains the path.
std::string MountPointOf(const std::string &path, const std::vector<std::string> &mounts);
// True when the name matches one of the ";"-separated patterns, letter case ignored.
bool MatchesMask(const std::string &name, const std::string &mask);
