// Printer status: the library's status bits as IPP printer-state-reasons,
// waiting for a printer that reports an error or does not answer, and the
// status that PAPPL asks for while a printer is idle.
#pragma once

#include <string>

#include <pappl/pappl.h>

namespace vrenapp {

class Connection;

// The reasons for a CheckPrinterStatus() result; a negative result (no
// answer) is "offline".
//   VREN_STATUS_PAPER_EMPTY  media-empty        VREN_STATUS_COVER_OPEN    cover-open
//   VREN_STATUS_RIBBON_END   marker-supply-empty VREN_STATUS_CUTTER_JAM   media-jam
//   VREN_STATUS_GAP_ERROR    other               VREN_STATUS_HEAD_OVERHEAT other
// PAPPL reports a reason without suffix, which IPP reads as an error
// ("media-empty" is "media-empty-error").
pappl_preason_t reasonsForStatus(int status);

// The conditions of a status result as the header names them, e.g.
// "paper empty, cover open"; "no answer" for a negative result.
std::string describeStatus(int status);

// Replaces the reasons this application manages with those of `status`.
void showStatus(pappl_printer_t *printer, int status);

// Connects and asks for the status until the printer answers without an
// error bit, showing the reasons in the queue meanwhile. While it waits the
// connection is closed, so that other printers can use the library. Returns
// true with the connection open, false when the job was canceled or the
// system is shutting down.
bool waitUntilReady(pappl_job_t *job, Connection &connection);

// Sleeps for `seconds` in short steps; false as soon as the job is canceled
// or the system is shutting down.
bool pauseForJob(pappl_job_t *job, int seconds);

// Driver status callback, called by PAPPL while the printer is idle: asks the
// printer unless another printer holds the library or it asked lately.
bool updateStatus(pappl_printer_t *printer);

}  // namespace vrenapp
