// vren-printer-app: an IPP Everywhere printer application for VREN label
// printers, built on PAPPL, whose every byte to a printer goes through
// libVrenLabelAPI.
//
// Files, one concern each: this one (sub-commands, options, the system),
// device.cpp (the vren: URI scheme), driver.cpp (models, media, settings),
// raster.cpp and bands.cpp (pages to bitmap commands), png_filter.cpp (PNG
// pictures of every bit depth), status.cpp (status
// bits to printer-state-reasons, waiting for a ready printer), testpage.cpp
// (the demonstration label as test page).
//
// Concurrency: the library holds one connection in process-wide globals, and
// PAPPL runs each printer's jobs on threads of their own. One process-wide
// lock (library_lock.h) is held exactly while a connection is open: a job
// connects when it starts, holds the library while its labels go out, and
// gives it back when it ends and while it waits for a printer that is not
// ready. Jobs for different printers therefore never interleave on the
// library; they take turns, job by job. (One worker process per printer would
// let two printers print at once, but would put an IPC layer between PAPPL's
// callbacks and the library; a label job holds the library for seconds.)
//
// Working directory: the server changes to its state directory, where the
// library appends its debug log VRENLinuxSDKLog.txt.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <pappl/pappl.h>

#include "device.h"
#include "driver.h"
#include "png_filter.h"
#include "testpage.h"

#ifndef VREN_APP_VERSION
#define VREN_APP_VERSION "1.0.0"
#endif

namespace {

constexpr const char *kName = "vren-printer-app";
constexpr const char *kFooter = "VREN label printers, through libVrenLabelAPI.";

std::string gStateFile;

void showUsage(void *) {
    std::printf(
        "Usage: %s SUB-COMMAND [OPTIONS] [FILES]\n"
        "       %s [OPTIONS] FILE        (same as \"submit\")\n"
        "       %s --help | --version\n"
        "\n"
        "An IPP Everywhere printer application for VREN label printers: CUPS, macOS,\n"
        "Windows, phones and lp on any machine print to it without a driver. Every\n"
        "byte to a printer goes through libVrenLabelAPI.\n"
        "\n"
        "Sub-commands:\n"
        "  add PRINTER      Add a printer (-d vren:URI, -m DRIVER; see \"drivers\").\n"
        "  autoadd          Add VREN USB printers found.\n"
        "  cancel           Cancel one or more jobs.\n"
        "  default          Set the default printer.\n"
        "  delete           Delete a printer.\n"
        "  devices          List printers that can be added; -o probe=ADDR[,ADDR] also\n"
        "                   asks the network printers at ADDR (IPv4:PORT) for their model.\n"
        "  drivers          List the drivers that \"add -m\" takes.\n"
        "  jobs             List jobs.\n"
        "  modify           Modify a printer.\n"
        "  options          List the options of a printer.\n"
        "  printers         List printers.\n"
        "  server           Run the server (a client sub-command starts one in the\n"
        "                   background when none runs).\n"
        "  shutdown         Stop a running server.\n"
        "  status           Show the server's status.\n"
        "  submit           Print files (PNG, JPEG, PWG and Apple raster, or the\n"
        "                   printer's own commands).\n"
        "\n"
        "Options:\n"
        "  -a               Cancel all jobs (cancel).\n"
        "  -d PRINTER       Printer to use.\n"
        "  -j JOB-ID        Job to cancel.\n"
        "  -m DRIVER        Driver (add, modify).\n"
        "  -n COPIES        Copies (submit).\n"
        "  -o NAME=VALUE    Option: server-port=N, server-hostname=NAME,\n"
        "                   listen-hostname=NAME, spool-directory=DIR,\n"
        "                   state-directory=DIR, log-file=FILE (- for standard error),\n"
        "                   log-level=fatal|error|warn|info|debug,\n"
        "                   server-options=tls,web-remote,raw-socket,dnssd-host\n"
        "                   (plain IPP unless tls is listed), and job options such\n"
        "                   as media=oe_4x6-label_4x6in or print-darkness=20.\n"
        "  -u URI           Connect to the server at URI.\n"
        "  -v DEVICE-URI    Device of the printer (add, modify).\n"
        "  --help           Show this help.\n"
        "  --version        Show the program's version.\n"
        "\n"
        "Device URIs:\n"
        "  vren://192.168.0.50:9100        network printer (port 9100 when left out)\n"
        "  vren:///dev/ttyS0?baud=115200   serial port (baud 9600 when left out)\n"
        "  vren:/serial?baud=115200        first serial port that opens\n"
        "  vren:///dev/lp0                 parallel port\n"
        "  vren:/parallel                  first parallel port that opens\n"
        "  vren:/usb                       first VREN USB printer\n"
        "  vren://bt/AA:BB:CC:DD:EE:FF     Bluetooth (serial port profile)\n"
        "\n"
        "State and working directory: the server keeps its printers in\n"
        "vren-printer-app.state in its state directory and runs with that directory\n"
        "as its working directory, so the library's debug log VRENLinuxSDKLog.txt is\n"
        "written there. The state directory is -o state-directory=DIR, else\n"
        "$STATE_DIRECTORY (set by systemd), else /var/lib/vren-printer-app for root,\n"
        "else $XDG_STATE_HOME/vren-printer-app, else ~/.local/state/vren-printer-app.\n"
        "Jobs are spooled in its spool/ subdirectory unless -o spool-directory says\n"
        "otherwise. The debug log grows without limit: rotate it (copytruncate).\n",
        kName, kName, kName);
}

std::string stateDirectory(int count, cups_option_t *options) {
    if (const char *value = cupsGetOption("state-directory", count, options))
        return value;
    if (const char *value = std::getenv("STATE_DIRECTORY"); value && *value) {
        const std::string list = value;  // systemd may list several
        return list.substr(0, list.find(':'));
    }
    if (getuid() == 0)
        return std::string("/var/lib/") + kName;
    if (const char *value = std::getenv("XDG_STATE_HOME"); value && *value)
        return std::string(value) + "/" + kName;
    if (const char *value = std::getenv("HOME"); value && *value)
        return std::string(value) + "/.local/state/" + kName;
    return std::string("/tmp/") + kName + "-" + std::to_string(getuid());
}

// Creates `path` and its missing parents.
bool makeDirectories(const std::string &path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

bool parseLogLevel(const char *value, pappl_loglevel_t &level) {
    static const struct {
        const char *name;
        pappl_loglevel_t level;
    } kLevels[] = {{"fatal", PAPPL_LOGLEVEL_FATAL}, {"error", PAPPL_LOGLEVEL_ERROR}, {"warn", PAPPL_LOGLEVEL_WARN},
                   {"info", PAPPL_LOGLEVEL_INFO},   {"debug", PAPPL_LOGLEVEL_DEBUG}};
    level = PAPPL_LOGLEVEL_UNSPEC;
    if (value == nullptr)
        return true;
    for (const auto &entry : kLevels)
        if (std::strcmp(value, entry.name) == 0) {
            level = entry.level;
            return true;
        }
    return false;
}

// Without "tls", the server speaks plain IPP only: PAPPL 1.3 would announce
// TLS in uri-security-supported while printer-uri-supported lists no ipps
// URI for clients on the local host, which IPP conformance tests reject.
bool parseServerOptions(const char *value, pappl_soptions_t &options) {
    options = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG |
              PAPPL_SOPTIONS_WEB_SECURITY | PAPPL_SOPTIONS_NO_TLS;
    static const struct {
        const char *name;
        pappl_soptions_t add;
    } kOptions[] = {{"tls", 0},
                    {"web-remote", PAPPL_SOPTIONS_WEB_REMOTE},
                    {"raw-socket", PAPPL_SOPTIONS_RAW_SOCKET},
                    {"dnssd-host", PAPPL_SOPTIONS_DNSSD_HOST}};
    for (std::string list = value ? value : ""; !list.empty();) {
        const size_t comma = list.find(',');
        const std::string name = list.substr(0, comma);
        list = comma == std::string::npos ? "" : list.substr(comma + 1);
        bool known = false;
        for (const auto &entry : kOptions)
            if (name == entry.name) {
                options |= entry.add;
                if (name == "tls")
                    options &= ~PAPPL_SOPTIONS_NO_TLS;
                known = true;
            }
        if (!known)
            return false;
    }
    return true;
}

pappl_system_t *createSystem(int count, cups_option_t *options, void *) {
    pappl_loglevel_t level;
    if (!parseLogLevel(cupsGetOption("log-level", count, options), level)) {
        std::fprintf(stderr, "%s: Bad log-level value '%s'.\n", kName, cupsGetOption("log-level", count, options));
        return nullptr;
    }
    int port = 0;
    if (const char *value = cupsGetOption("server-port", count, options)) {
        char *end = nullptr;
        const long parsed = std::strtol(value, &end, 10);
        if (*value == '\0' || *end != '\0' || parsed < 0 || parsed > 65535) {
            std::fprintf(stderr, "%s: Bad server-port value '%s'.\n", kName, value);
            return nullptr;
        }
        port = static_cast<int>(parsed);
    }

    const std::string state = stateDirectory(count, options);
    const char *spoolOption = cupsGetOption("spool-directory", count, options);
    const std::string spool = spoolOption ? spoolOption : state + "/spool";
    if (!makeDirectories(state) || !makeDirectories(spool)) {
        std::fprintf(stderr, "%s: Unable to create %s: %s\n", kName, state.c_str(), std::strerror(errno));
        return nullptr;
    }
    // The library writes its debug log into the working directory.
    if (chdir(state.c_str()) != 0) {
        std::fprintf(stderr, "%s: Unable to change to %s: %s\n", kName, state.c_str(), std::strerror(errno));
        return nullptr;
    }
    gStateFile = state + "/" + kName + ".state";

    const char *logFile = cupsGetOption("log-file", count, options);
    pappl_soptions_t serverOptions;
    if (!parseServerOptions(cupsGetOption("server-options", count, options), serverOptions)) {
        std::fprintf(stderr, "%s: Bad server-options value '%s'.\n", kName,
                     cupsGetOption("server-options", count, options));
        return nullptr;
    }
    pappl_system_t *system =
        papplSystemCreate(serverOptions, "VREN Label Printers", port, "_print,_universal", spool.c_str(),
                          logFile ? logFile : "-", level, cupsGetOption("auth-service", count, options), false);
    if (system == nullptr)
        return nullptr;
    if (!cupsGetOption("private-server", count, options))
        papplSystemAddListeners(system, cupsGetOption("listen-hostname", count, options));
    papplSystemSetHostName(system, cupsGetOption("server-hostname", count, options));
    if (const char *group = cupsGetOption("admin-group", count, options))
        papplSystemSetAdminGroup(system, group);

    auto &list = vrenapp::drivers();
    papplSystemSetPrinterDrivers(system, static_cast<int>(list.size()), list.data(), vrenapp::driverForDeviceId,
                                 nullptr, vrenapp::setUpDriver, nullptr);
    vrenapp::addTestPageFormat(system);
    vrenapp::addPngFilter(system);
    static pappl_version_t version = {"vren-printer-app", "", VREN_APP_VERSION, {1, 0, 0, 0}};
    papplSystemSetVersions(system, 1, &version);
    papplSystemSetSaveCallback(system, reinterpret_cast<pappl_save_cb_t>(papplSystemSaveState),
                               const_cast<char *>(gStateFile.c_str()));
    if (!papplSystemLoadState(system, gStateFile.c_str()))
        papplSystemSetDNSSDName(system, "VREN Label Printers");
    papplLog(system, PAPPL_LOGLEVEL_INFO, "State and working directory (library debug log): %s", state.c_str());
    return system;
}

// PAPPL's "devices" lists without a system and without the options, so the
// addresses to ask are taken from the command line here.
void takeProbeAddresses(int argc, char *argv[]) {
    constexpr std::string_view kOption = "probe=";
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-o") == 0 && std::string_view(argv[i + 1]).starts_with(kOption))
            vrenapp::setProbeAddresses(std::string_view(argv[i + 1]).substr(kOption.size()));
}

}  // namespace

int main(int argc, char *argv[]) {
    takeProbeAddresses(argc, argv);
    vrenapp::addDeviceScheme();
    auto &list = vrenapp::drivers();
    return papplMainloop(argc, argv, VREN_APP_VERSION, kFooter, static_cast<int>(list.size()), list.data(),
                         vrenapp::driverForDeviceId, vrenapp::setUpDriver, nullptr, nullptr, createSystem, showUsage,
                         nullptr);
}
