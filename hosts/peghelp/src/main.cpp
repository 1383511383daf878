// peghelp: the handheld's help viewer. Shows one page of a program's help,
// opened at a topic, in a window of the handheld's screen size.
#include <QApplication>
#include <QMessageBox>
#include <QScrollBar>
#include <QTimer>
#include <cstdio>
#include <string>

#include "HelpPage.h"
#include "HelpWindow.h"

namespace {

constexpr char kUsage[] =
    "Usage: peghelp [--screenshot FILE.png] TOPIC\n"
    "\n"
    "Shows a help page at a topic, such as \"file:tbmobile.htm#find_rec\".\n"
    "The page is looked for in the handheld's \\Windows\\ folder, then beside\n"
    "peghelp in help/<language>/ for the handheld's default language (the\n"
    "registry's HKEY_LOCAL_MACHINE\\nls DefaultLCID, else the locale of the\n"
    "environment), its primary language and US English (409).\n"
    "\n"
    "  --screenshot FILE.png  draw the window into FILE.png, print the page,\n"
    "                         the topic and how far it is scrolled, and end\n"
    "  --help                 show this text\n"
    "\n"
    "Ends with 0 when the page was shown, 1 when there is no such page, 2 for\n"
    "a command line it cannot use.\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "peghelp: %s\n\n%s", why.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tbm::peghelp;
  std::string topicText, screenshot;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--screenshot" && i + 1 < argc) {
      screenshot = argv[++i];
    } else if (topicText.empty() && (arg.empty() || arg[0] != '-')) {
      topicText = arg;
    } else {
      return Usage("unexpected argument \"" + arg + "\"");
    }
  }
  if (topicText.empty()) return Usage("no topic was given");
  Topic topic;
  std::string why;
  if (!ParseTopic(topicText, &topic, &why)) return Usage(why);

  QApplication application(argc, argv);
  const PageSearch search =
      FindHelpPage(topic.file, QCoreApplication::applicationDirPath().toStdString());
  if (search.found.empty()) {
    std::string places;
    for (const auto& place : search.tried) places += "\n  " + place.string();
    const std::string message = "There is no help page " + topic.file +
                                " on this handheld; it was looked for in:" + places +
                                "\nInstall the program's help again.";
    std::fprintf(stderr, "peghelp: %s\n", message.c_str());
    if (screenshot.empty())
      QMessageBox::warning(nullptr, QObject::tr("Help"), QString::fromStdString(message));
    return 1;
  }

  HelpWindow window;
  window.show();
  QApplication::processEvents();
  const QString anchor = QString::fromStdString(topic.anchor);
  const bool found = window.ShowPage(QString::fromStdString(search.found.string()), anchor);
  if (!found)
    std::fprintf(stderr, "peghelp: %s has no topic \"%s\"; showing its beginning\n",
                 search.found.c_str(), topic.anchor.c_str());
  if (screenshot.empty()) return application.exec();

  QApplication::processEvents();
  if (found && !anchor.isEmpty()) window.browser()->scrollToAnchor(anchor);
  QApplication::processEvents();
  if (!window.grab().save(QString::fromStdString(screenshot), "PNG")) {
    std::fprintf(stderr, "peghelp: cannot write the picture %s\n", screenshot.c_str());
    return 2;
  }
  std::printf("page: %s\nanchor: %s\nscrolled: %d\n", search.found.c_str(),
              found ? topic.anchor.c_str() : "", window.browser()->verticalScrollBar()->value());
  return 0;
}
