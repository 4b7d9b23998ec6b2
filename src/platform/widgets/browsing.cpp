#include "platform/widgets/browsing.h"

#include <QStorageInfo>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/errors.h"
#include "platform/widgets/application.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPathRole = Qt::UserRole;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// A glob with "*" and "?" over bytes, ASCII letters compared without case.
bool MatchPattern(std::string_view name, std::string_view pattern)
{
    size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

// An absolute, lexically clean path without a trailing "/" (except "/" itself).
std::string NormalPath(const std::string &path)
{
    fs::path p(path);
    if (p.is_relative()) {
        std::error_code ignored;
        p = fs::current_path(ignored) / p;
    }
    std::string text = p.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text.empty() ? std::string("/") : text;
}

[[noreturn]] void RaiseCannotEnter(const std::string &path)
{
    throw EInOutError(FormatMessage(Msg::InOutError, path));
}

// The directory's entries that pass the filter, in byte order of their names. Throws when the
// directory cannot be read.
template <class Keep> std::vector<std::string> ReadDirectory(const std::string &path, Keep keep)
{
    std::error_code error;
    fs::directory_iterator it(path, error);
    if (error)
        RaiseCannotEnter(path);
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error)
            RaiseCannotEnter(path);
        std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.')
            continue;
        if (keep(*it, name))
            names.push_back(std::move(name));
    }
    if (error)
        RaiseCannotEnter(path);
    std::sort(names.begin(), names.end());
    return names;
}

QString Shown(const std::string &bytes) { return QString::fromUtf8(bytes); }
std::string Bytes(const QVariant &data) { return data.toByteArray().toStdString(); }

std::string CurrentDirectory()
{
    std::error_code error;
    const fs::path here = fs::current_path(error);
    return error ? std::string("/") : NormalPath(here.string());
}

} // namespace

bool MatchesMask(const std::string &name, const std::string &mask)
{
    size_t start = 0;
    while (start <= mask.size()) {
        size_t end = mask.find(';', start);
        if (end == std::string::npos)
            end = mask.size();
        const std::string_view pattern(mask.data() + start, end - start);
        if (!pattern.empty() && MatchPattern(name, pattern))
            return true;
        start = end + 1;
    }
    return false;
}

TFileListBox::TFileListBox(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
}

void TFileListBox::SetMask(const std::string &mask)
{
    mask_ = mask;
    if (!directory_.empty())
        SetDirectory(directory_);
}

void TFileListBox::SetDirectory(const std::string &path)
{
    const std::string directory = NormalPath(path);
    const auto names = ReadDirectory(directory, [this](const fs::directory_entry &entry, const std::string &name) {
        std::error_code ignored;
        return entry.is_regular_file(ignored) && MatchesMask(name, mask_);
    });
    directory_ = directory;
    clear();
    for (const auto &name : names) {
        auto *item = new QListWidgetItem(Shown(name), this);
        item->setData(kPathRole, QByteArray::fromStdString(name));
    }
}

std::string TFileListBox::FileName(int i) const
{
    const QListWidgetItem *it = item(i);
    return it ? Bytes(it->data(kPathRole)) : std::string();
}

bool TFileListBox::Selected(int i) const
{
    const QListWidgetItem *it = item(i);
    return it && it->isSelected();
}

void TFileListBox::SetSelected(int i, bool selected)
{
    if (QListWidgetItem *it = item(i))
        it->setSelected(selected);
}

TDirectoryListBox::TDirectoryListBox(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    // Double-click and Enter both activate a line.
    connect(this, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) {
        const std::string path = Bytes(item->data(kPathRole));
        Guard([&] { SetDirectory(path); });
    });
}

void TDirectoryListBox::SetDirectory(const std::string &path)
{
    const std::string directory = NormalPath(path);
    // The file list is moved first: when the directory cannot be read, both keep their place.
    if (fileList_)
        fileList_->SetDirectory(directory);
    else
        ReadDirectory(directory, [](const fs::directory_entry &, const std::string &) { return false; });
    directory_ = directory;
    Fill();
}

void TDirectoryListBox::Fill()
{
    std::vector<std::string> subdirectories;
    try {
        subdirectories = ReadDirectory(directory_, [](const fs::directory_entry &entry, const std::string &) {
            std::error_code ignored;
            return entry.is_directory(ignored);
        });
    } catch (const EInOutError &) {
        // The directory was readable a moment ago; show its path without children.
    }

    clear();
    auto add = [this](const std::string &path, const std::string &label, int depth) {
        auto *item = new QListWidgetItem(QString(depth * 2, ' ') + Shown(label), this);
        item->setData(kPathRole, QByteArray::fromStdString(path));
        return item;
    };
    add("/", "/", 0);
    int depth = 0;
    std::string sofar;
    QListWidgetItem *current = item(0);
    for (const auto &part : fs::path(directory_).relative_path()) {
        sofar += "/" + part.string();
        current = add(sofar, part.string(), ++depth);
    }
    for (const auto &name : subdirectories)
        add(directory_ == "/" ? "/" + name : directory_ + "/" + name, name, depth + 1);
    setCurrentItem(current);
}

std::string TDirectoryListBox::PathOfLine(int line) const
{
    const QListWidgetItem *it = item(line);
    return it ? Bytes(it->data(kPathRole)) : std::string();
}

std::vector<std::string> MountedFileSystems()
{
    std::vector<std::string> mounts;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid())
            mounts.push_back(volume.rootPath().toStdString());
    }
    if (std::find(mounts.begin(), mounts.end(), "/") == mounts.end())
        mounts.push_back("/");
    std::sort(mounts.begin(), mounts.end());
    mounts.erase(std::unique(mounts.begin(), mounts.end()), mounts.end());
    return mounts;
}

std::string MountPointOf(const std::string &path, const std::vector<std::string> &mounts)
{
    std::string best = "/";
    for (const auto &mount : mounts) {
        const bool inside = mount == "/" || path == mount ||
                            (path.size() > mount.size() && path.compare(0, mount.size(), mount) == 0 &&
                             path[mount.size()] == '/');
        if (inside && mount.size() > best.size())
            best = mount;
    }
    return best;
}

TDriveComboBox::TDriveComboBox(QWidget *parent) : QComboBox(parent)
{
    setEditable(false);
    for (const auto &mount : MountedFileSystems())
        addItem(Shown(mount), QByteArray::fromStdString(mount));
    SelectDriveOf(CurrentDirectory());
    connect(this, &QComboBox::activated, this, [this](int index) { Guard([&] { ChooseDrive(index); }); });
}

void TDriveComboBox::SelectDriveOf(const std::string &path)
{
    std::vector<std::string> mounts;
    for (int i = 0; i < count(); ++i)
        mounts.push_back(Bytes(itemData(i)));
    const int index = findData(QByteArray::fromStdString(MountPointOf(path, mounts)));
    if (index >= 0)
        setCurrentIndex(index);
}

void TDriveComboBox::ChooseDrive(int index)
{
    if (!dirList_ || index < 0 || index >= count())
        return;
    try {
        dirList_->SetDirectory(Bytes(itemData(index)));
    } catch (...) {
        SelectDriveOf(dirList_->Directory());
        throw;
    }
}

std::string TDriveComboBox::Drive() const { return Bytes(currentData()); }
