#include "app/command_line.h"

#include <chrono>
#include <optional>
#include <thread>

#include "app/account_arguments.h"
#include "app/account_cli.h"
#include "app/settings_check.h"
#include "console/admin_calls.h"
#include "console/admin_client.h"
#include "console/admin_records.h"
#include "console/admin_tls.h"
#include "core/config_check.h"
#include "core/program_folder.h"
#include "core/report_exception.h"
#include "core/strings.h"

namespace brindlex {

namespace {

constexpr const char* kUsage =
    "Usage: brindlex [--help | --version | --check | --admin-fingerprint | status]\n"
    "       brindlex user|group|ticket COMMAND ...\n"
    "\n"
    "Without arguments: runs the gateway on the program folder named by BRINDLEX_HOME\n"
    "(default: the folder of the executable); SIGTERM ends it, SIGHUP re-reads the\n"
    "accounts, SIGUSR1 prints each user's figures.\n"
    "\n"
    "  --help     this text\n"
    "  --version  the program's version\n"
    "  --check    reads Brindlex.ini of the program folder and prints every problem\n"
    "             with its line and key; exits 1 when there is any, 0 otherwise\n"
    "  status     prints the figures of the gateway running on the program folder;\n"
    "             exits 3 when none runs\n"
    "  --admin-fingerprint\n"
    "             the fingerprint of the certificate consoles see on AdminPort\n"
    "             (compare it with what a console shows at its first connection)\n"
    "\n";

void PrintUsage(std::FILE* stream) {
  std::fputs(kUsage, stream);
  std::fputs(AccountUsage(), stream);
}

int Accounts(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err) {
  AccountArguments parsed = ParseAccountArguments(arguments);
  if (!parsed.command) {
    std::fprintf(err, "brindlex: %s (see brindlex --help)\n", parsed.mistake.c_str());
    return 2;
  }
  return RunAccountCommand(*parsed.command, out, err);
}

int Check(const std::string& settingsPath, std::FILE* out, std::FILE* err) {
  std::vector<ConfigProblem> problems;
  if (!CheckSettingsFile(settingsPath, problems)) {
    std::fprintf(err, "%s: cannot be read\n", settingsPath.c_str());
    return 1;
  }
  for (const ConfigProblem& problem : problems)
    std::fprintf(out, "%s\n", FormatConfigProblem(settingsPath, problem).c_str());
  if (problems.empty()) std::fprintf(out, "%s: no problems found\n", settingsPath.c_str());
  return problems.empty() ? 0 : 1;
}

int Status(const StatusSource& status, std::FILE* out, std::FILE* err) {
  std::optional<GatewayFigures> figures = status ? status() : std::nullopt;
  if (!figures) {
    std::fprintf(err, StrC(1261), ProgramFolder().c_str());
    std::fputc('\n', err);
    return 3;
  }
  std::fputs(FormatStatus(*figures).c_str(), out);
  return 0;
}

// The figures of the gateway running on the program folder, asked over its
// local socket; nothing (and why on `err`) when none answers.
std::optional<GatewayFigures> FiguresOfLocalGateway(std::FILE* err) {
  if (InstanceLockHolder(ProgramFolder()) == 0) return std::nullopt;
  AdminClientOptions options;
  options.programFolder = ProgramFolder();
  AdminClient client(std::move(options));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!client.State().up) {
    const AdminLinkState state = client.State();
    if (!state.lastError.empty() || std::chrono::steady_clock::now() > deadline) {
      if (!state.lastError.empty()) std::fprintf(err, "%s\n", state.lastError.c_str());
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  GatewayFigures figures;
  const auto reply = client.Call(static_cast<std::uint16_t>(AdminCall::kGatewayFigures), {});
  if (!reply || !Decode(*reply, figures)) return std::nullopt;
  return figures;
}

int PrintAdminFingerprint(std::FILE* out, std::FILE* err) {
  std::optional<std::string> fingerprint = AdminFingerprint(ProgramFolder());
  if (!fingerprint) {
    std::fprintf(err, "%s: no certificate yet (the gateway makes it at its first start with AdminPort set)\n",
                 AdminCertificatePath(ProgramFolder()).c_str());
    return 1;
  }
  std::fprintf(out, "%s\n", fingerprint->c_str());
  return 0;
}

}  // namespace

Command ParseCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return {};
  if (IsAccountTarget(arguments[0])) return {CommandKind::Accounts, {}, arguments};
  if (arguments.size() == 1) {
    const std::string& a = arguments[0];
    if (a == "--help" || a == "-h") return {CommandKind::Help, {}, {}};
    if (a == "--version") return {CommandKind::Version, {}, {}};
    if (a == "--check") return {CommandKind::Check, {}, {}};
    if (a == "status") return {CommandKind::Status, {}, {}};
    if (a == "--admin-fingerprint") return {CommandKind::AdminFingerprint, {}, {}};
  }
  return {CommandKind::Unknown, arguments[0], {}};
}

int RunCommand(const Command& command, const std::string& settingsPath, std::FILE* out, std::FILE* err) {
  return RunCommand(command, settingsPath, out, err, [err] { return FiguresOfLocalGateway(err); });
}

int RunCommand(const Command& command, const std::string& settingsPath, std::FILE* out, std::FILE* err,
               const StatusSource& status) {
  switch (command.kind) {
    case CommandKind::Help:
      PrintUsage(out);
      return 0;
    case CommandKind::Version:
      std::fprintf(out, "%s\n", ExceptionCaption().c_str());
      return 0;
    case CommandKind::Check:
      return Check(settingsPath, out, err);
    case CommandKind::Status:
      return Status(status, out, err);
    case CommandKind::Accounts:
      return Accounts(command.arguments, out, err);
    case CommandKind::AdminFingerprint:
      return PrintAdminFingerprint(out, err);
    case CommandKind::Unknown:
      std::fprintf(err, "brindlex: '%s' is not understood\n\n", command.argument.c_str());
      PrintUsage(err);
      return 2;
    case CommandKind::Gateway:
      break;
  }
  return 2;
}

}  // namespace brindlex
