// The brindlex-console executable: the administrator's window onto a running
// gateway, the local one (its program folder's socket) or the one named by
// HOST[:PORT] (TLS). Closing or killing it never affects the gateway.
#include <QApplication>
#include <QSystemTrayIcon>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/console_target.h"
#include "console/qt/console_application.h"
#include "console/qt/gateway_link.h"
#include "console/qt/localise.h"
#include "console/qt/main_form.h"
#include "core/program_folder.h"

namespace {

using namespace brindlex;

constexpr const char* kUsage =
    "usage: brindlex-console [HOST[:PORT]]\n"
    "  without HOST: the gateway of this machine ($BRINDLEX_HOME, or /var/lib/brindlex)\n"
    "  HOST[:PORT]:  a gateway whose AdminPort is open (default port 9470), over TLS\n";

}  // namespace

int main(int argc, char** argv) {
  ConsoleTarget target;
  if (argc > 2 || (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))) {
    std::fputs(kUsage, argc > 2 ? stderr : stdout);
    return argc > 2 ? 2 : 0;
  }
  if (argc == 2) {
    auto remote = ParseRemoteTarget(argv[1]);
    if (!remote) {
      std::fprintf(stderr, "brindlex-console: not HOST[:PORT]: %s\n%s", argv[1], kUsage);
      return 2;
    }
    target = *remote;
  } else {
    // The folder of the executable stands for a program folder laid out by
    // the run script, where the console lies beside the gateway.
    target.folder = LocalGatewayFolder(std::getenv("BRINDLEX_HOME"), ResolveProgramFolder());
  }

  ConsoleApplication application(argc, argv);
  QApplication::setApplicationName("Brindlex");
  InstallRussianTranslations(&application);
  // The main window is hidden at start and closing it only hides it: the
  // console lives in the tray until "Закрыть".
  QApplication::setQuitOnLastWindowClosed(false);
  GatewayLink link(target);
  TMainFormBX form(link.Engine(), MainFormCommands{[] { QApplication::quit(); }, [&link] { link.StopGateway(); },
                                                   [&link] { link.Client().Reconnect(); }});
  link.Attach(form);
  // Without a tray there would be no way to the hidden window.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) form.show();
  return QApplication::exec();
}
