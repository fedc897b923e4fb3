#include "SoundServerProbe.h"

#include <QByteArray>
#include <QList>

#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace speech {

namespace {

// The local socket paths to try, or nothing if the server is somewhere a socket path cannot
// reach.
std::optional<QList<QByteArray>> socketPaths() {
    const QByteArray servers = qgetenv("PULSE_SERVER");
    if (!servers.isEmpty()) {
        QList<QByteArray> paths;
        for (QByteArray server : servers.simplified().split(' ')) {
            // "{machine-id}unix:/path": the braces only say which machine the entry is for.
            if (server.startsWith('{') && server.contains('}'))
                server = server.mid(server.indexOf('}') + 1);
            if (server.startsWith("unix:"))
                paths.append(server.mid(5));
            else if (server.startsWith('/'))
                paths.append(server);
            else
                return std::nullopt;
        }
        return paths;
    }
    if (const QByteArray runtime = qgetenv("PULSE_RUNTIME_PATH"); !runtime.isEmpty())
        return QList<QByteArray>{runtime + "/native"};
    if (const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"); !runtime.isEmpty())
        return QList<QByteArray>{runtime + "/pulse/native"};
    return std::nullopt;
}

bool listens(const QByteArray &path) {
    sockaddr_un address{};
    if (path.size() >= qsizetype(sizeof(address.sun_path)))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true; // cannot tell; not evidence that the server is gone
    const int result = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address));
    const int error = errno;
    ::close(fd);
    // A stopped or busy server still has its socket: the connection is queued (or the queue is
    // full). A dead one leaves the file with nobody behind it, or no file.
    return result == 0 || error == EAGAIN || error == EINPROGRESS;
}

} // namespace

SoundServer probeSoundServer() {
    const std::optional<QList<QByteArray>> paths = socketPaths();
    if (!paths || paths->isEmpty())
        return SoundServer::Unknown;
    for (const QByteArray &path : *paths) {
        if (listens(path))
            return SoundServer::Listening;
    }
    return SoundServer::Gone;
}

} // namespace speech
