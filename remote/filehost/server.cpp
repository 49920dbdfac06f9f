// The listening loop: a thread per connection, until Ctrl-C.
#include <atomic>
#include <list>
#include <thread>

#include "core/output.h"
#include "remote/filehost/host.h"

namespace {

struct Connection {
    plat::SocketHandle m_Socket = -1;
    std::atomic<bool> m_Done{false};
    std::thread m_Thread;
};

typedef std::list<Connection> Connections;

void Serve(const HostOptions* options, Connection* connection) {
    ServeConnection(options->m_Root, connection->m_Socket, options->m_IdleSeconds);
    connection->m_Done = true;
}

// Joins the connections that have ended; when stopping, ends them all first.
// Sockets are closed only here, after their threads, so none is reused early.
void Reap(Connections* connections, bool stopping) {
    for (auto it = connections->begin(); it != connections->end();) {
        if (stopping) plat::SocketShutdown(it->m_Socket);
        if (!stopping && !it->m_Done) {
            ++it;
            continue;
        }
        it->m_Thread.join();
        plat::SocketClose(it->m_Socket);
        it = connections->erase(it);
    }
}

// Out of descriptors, the listener stays ready and every accept fails at
// once: without a pause the loop would spin a whole core until a connection
// ended. Said once for each run of failures.
void AcceptFailed(const HostListenCalls& calls, bool* failing) {
    if (!*failing)
        Warningf("filehost: cannot accept a connection; trying again every %u ms",
                 static_cast<unsigned>(kHostAcceptPauseMs));
    *failing = true;
    calls.Pause(kHostAcceptPauseMs);
}

void Accept(const HostOptions& options, plat::SocketHandle listener, Connections* connections,
            const HostListenCalls& calls, bool* failing) {
    plat::SocketHandle socket = calls.Accept(listener);
    if (socket < 0) return AcceptFailed(calls, failing);
    *failing = false;
    if (connections->size() >= static_cast<size_t>(kHostMaxConnections)) {
        Warningf("filehost: %d connections already; turning one away", kHostMaxConnections);
        plat::SocketClose(socket);
        return;
    }
    Connection& connection = connections->emplace_back();
    connection.m_Socket = socket;
    connection.m_Thread = std::thread(Serve, &options, &connection);
}

}  // namespace

const HostListenCalls kHostListenCalls = {
    plat::SocketWait,    // Wait
    plat::SocketAccept,  // Accept
    plat::SleepMs,       // Pause
    plat::Interrupted,   // Interrupted
};

// Waits in short steps, so that Ctrl-C is seen wherever the signal lands.
bool ServeUntilInterrupted(const HostOptions& options, plat::SocketHandle listener,
                           const HostListenCalls& calls) {
    Connections connections;
    int32_t ready = 0;
    bool failing = false;
    while (!calls.Interrupted() && ready >= 0) {
        ready = calls.Wait(listener, 200);
        if (ready > 0) Accept(options, listener, &connections, calls, &failing);
        Reap(&connections, false);
    }
    Reap(&connections, true);
    return ready >= 0;
}

int RunHost(const HostOptions& options) {
    // Caught before anyone can connect, so a stop is always a clean one.
    if (!plat::CatchInterrupt()) Warningf("filehost: Ctrl-C will not stop the host cleanly");
    plat::SocketHandle listener = plat::SocketListen(options.m_Address, options.m_Port);
    if (listener < 0) {
        Errorf("filehost: cannot listen on %s port %d", options.m_Address, options.m_Port);
        return 1;
    }
    Displayf("filehost: serving %s on %s port %d; Ctrl-C stops", options.m_Root, options.m_Address,
             plat::SocketPort(listener));
    bool clean = ServeUntilInterrupted(options, listener, kHostListenCalls);
    plat::SocketClose(listener);
    if (!clean) Errorf("filehost: waiting for connections failed");
    Displayf("filehost: stopped");
    return clean ? 0 : 1;
}
