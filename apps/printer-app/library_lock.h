// The process-wide lock of the label library.
//
// libVrenLabelAPI keeps its one printer connection, its command buffer and
// its settings in process-wide globals, and a successful ConnectToPrinter()
// silently takes the place of any other connection. Two printers of this
// application therefore never use the library at the same time: the lock is
// taken before ConnectToPrinter() and given back right after
// DisconnectPrinter(), so it is held exactly while a connection is open, and
// every library call in between belongs to that one connection.
//
// It is a semaphore, not a mutex, because a connection may be opened on one
// thread and closed on another (PAPPL opens and closes devices on job
// threads and on client threads).
#pragma once

#include <semaphore>

namespace vrenapp {

inline std::binary_semaphore &libraryLock() {
    static std::binary_semaphore lock{1};
    return lock;
}

}  // namespace vrenapp
