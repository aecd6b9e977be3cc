// The session bus address used when none is set: the user bus socket, else no bus at all.
#include "platform/session_bus.h"
#include "tests/support/test_dirs.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Sets an environment variable for the life of the object, then puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

// A listening Unix socket at path, closed with the object.
class UnixSocket {
public:
    explicit UnixSocket(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        path.copy(addr.sun_path, sizeof addr.sun_path - 1);
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~UnixSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool bound() const { return bound_; }

private:
    int fd_;
    bool bound_ = false;
};

} // namespace

TEST(SessionBus, AnAddressAlreadySetIsKept) {
    const ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus");
    EXPECT_TRUE(pixmoor::sessionBusFallback().isEmpty());
    EXPECT_TRUE(pixmoor::preventSessionBusAutolaunch());
    EXPECT_EQ(qgetenv("DBUS_SESSION_BUS_ADDRESS"), "unix:path=/run/user/1000/bus");
}

TEST(SessionBus, WithoutAnyBusNothingIsLaunched) {
    pixmoor::test::TempDir runtime; // no "bus" socket in it
    const ScopedEnv dir("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path().string()));
    const ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", QByteArray());
    EXPECT_EQ(pixmoor::sessionBusFallback(), pixmoor::kNoSessionBus);
    ASSERT_TRUE(pixmoor::preventSessionBusAutolaunch());
    EXPECT_EQ(qgetenv("DBUS_SESSION_BUS_ADDRESS"), pixmoor::kNoSessionBus);

    // An empty variable counts as unset; a plain file named "bus" is no bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "");
    ASSERT_EQ(pixmoor::test::run("touch '" + runtime.file("bus") + "'"), 0);
    EXPECT_EQ(pixmoor::sessionBusFallback(), pixmoor::kNoSessionBus);
}

TEST(SessionBus, TheUserBusSocketIsNamedWithItsPathEscaped) {
    pixmoor::test::TempDir top;
    const std::string runtime = top.file("run time=1");
    ASSERT_EQ(pixmoor::test::run("mkdir -m 700 '" + runtime + "'"), 0);
    const UnixSocket socket(runtime + "/bus");
    ASSERT_TRUE(socket.bound());
    const ScopedEnv dir("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime));
    const ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", QByteArray());
    const QByteArray expected =
        "unix:path=" + QByteArray::fromStdString(top.path().string()) + "/run%20time%3d1/bus";
    EXPECT_EQ(pixmoor::sessionBusFallback(), expected);
    ASSERT_TRUE(pixmoor::preventSessionBusAutolaunch());
    EXPECT_EQ(qgetenv("DBUS_SESSION_BUS_ADDRESS"), expected);
}
