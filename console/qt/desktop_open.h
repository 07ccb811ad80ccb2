// Files and folders opened with the desktop's own programs, and what the
// administrator is told when a file has no program to open it: where the
// file is, with its folder opened for him. Console thread only.
#pragma once

#include <QUrl>
#include <functional>
#include <string>

class QWidget;

namespace brindlex {

// How a URL is opened; true when a program took it. The desktop's services
// unless replaced (a test stands for a desktop without programs).
using DesktopOpener = std::function<bool(const QUrl&)>;
// An empty opener puts the desktop's services back.
void SetDesktopOpener(DesktopOpener opener);

bool OpenOnDesktop(const QUrl& url);

// Opens the file with its program. When none takes it, a box says so in the
// text `unopenedText` (its %s is the file's path) and whether the file's
// folder, opened at once, could be shown. True when the file itself opened.
bool OpenFileOrItsFolder(QWidget* parent, const std::string& path, int unopenedText);

}  // namespace brindlex
