// Status bits to printer-state-reasons, and waiting for a ready printer.
#include "status.h"

#include <unistd.h>

#include <chrono>
#include <map>
#include <mutex>

#include "VrenLabelAPI.h"
#include "device.h"

namespace vrenapp {

namespace {

struct Condition {
    int bit;
    pappl_preason_t reason;
    const char *name;
};

constexpr Condition kConditions[] = {
    {VREN_STATUS_RIBBON_END, PAPPL_PREASON_MARKER_SUPPLY_EMPTY, "ribbon end"},
    {VREN_STATUS_GAP_ERROR, PAPPL_PREASON_OTHER, "gap error"},
    {VREN_STATUS_HEAD_OVERHEAT, PAPPL_PREASON_OTHER, "head overheat"},
    {VREN_STATUS_CUTTER_JAM, PAPPL_PREASON_MEDIA_JAM, "cutter jam"},
    {VREN_STATUS_COVER_OPEN, PAPPL_PREASON_COVER_OPEN, "cover open"},
    {VREN_STATUS_PAPER_EMPTY, PAPPL_PREASON_MEDIA_EMPTY, "paper empty"},
};

constexpr pappl_preason_t kManaged = PAPPL_PREASON_MARKER_SUPPLY_EMPTY | PAPPL_PREASON_OTHER |
                                     PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_COVER_OPEN |
                                     PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_OFFLINE;

// Seconds between two attempts while a printer is not ready.
constexpr int kRetrySeconds = 2;
// Seconds between two status queries that PAPPL asks for while idle: each
// one connects, which costs about a second of the library.
constexpr int kIdleQuerySeconds = 5;

}  // namespace

pappl_preason_t reasonsForStatus(int status) {
    if (status < 0)
        return PAPPL_PREASON_OFFLINE;
    pappl_preason_t reasons = PAPPL_PREASON_NONE;
    for (const Condition &condition : kConditions)
        if (status & condition.bit)
            reasons |= condition.reason;
    return reasons;
}

std::string describeStatus(int status) {
    if (status < 0)
        return "no answer";
    std::string text;
    for (const Condition &condition : kConditions) {
        if (!(status & condition.bit))
            continue;
        if (!text.empty())
            text += ", ";
        text += condition.name;
    }
    return text;
}

void showStatus(pappl_printer_t *printer, int status) {
    const pappl_preason_t reasons = reasonsForStatus(status);
    papplPrinterSetReasons(printer, reasons, kManaged & ~reasons);
}

bool pauseForJob(pappl_job_t *job, int seconds) {
    pappl_system_t *system = papplPrinterGetSystem(papplJobGetPrinter(job));
    for (int step = 0; step < seconds * 4; ++step) {
        if (papplJobIsCanceled(job) || !papplSystemIsRunning(system) || papplSystemIsShutdown(system))
            return false;
        usleep(250000);
    }
    return !papplJobIsCanceled(job);
}

bool waitUntilReady(pappl_job_t *job, Connection &connection) {
    pappl_printer_t *printer = papplJobGetPrinter(job);
    for (;;) {
        if (papplJobIsCanceled(job))
            return false;
        const int opened = connection.open();
        const int status = opened == VREN_OK ? CheckPrinterStatus() : opened;
        showStatus(printer, status);
        if (status == 0) {
            papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
            papplJobSetMessage(job, "Printing.");
            return true;
        }
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Printer not ready (%s), trying again in %d seconds.",
                    describeStatus(status).c_str(), kRetrySeconds);
        papplJobSetReasons(job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
        papplJobSetMessage(job, "Waiting for the printer: %s.", describeStatus(status).c_str());
        connection.close();
        if (!pauseForJob(job, kRetrySeconds))
            return false;
    }
}

bool updateStatus(pappl_printer_t *printer) {
    static std::mutex mutex;
    static std::map<pappl_printer_t *, std::chrono::steady_clock::time_point> lastQuery;
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(mutex);
        const auto found = lastQuery.find(printer);
        if (found != lastQuery.end() && now - found->second < std::chrono::seconds(kIdleQuerySeconds))
            return true;
        lastQuery[printer] = now;
    }
    const auto address = addressForUri(papplPrinterGetDeviceURI(printer));
    if (!address)
        return false;
    Connection connection(*address);
    const std::optional<int> opened = connection.tryOpen();
    if (!opened)
        return true;  // another printer holds the library: keep what is shown
    const int status = *opened == VREN_OK ? CheckPrinterStatus() : *opened;
    connection.close();
    showStatus(printer, status);
    return true;
}

}  // namespace vrenapp
