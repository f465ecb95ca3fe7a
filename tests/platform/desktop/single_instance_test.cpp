#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <optional>

#include "platform/desktop/single_instance.h"
#include "platform/qt/main_thread.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::testing;
using desktop::InstanceMessage;
using desktop::SingleInstance;

namespace {

// A socket file whose process has gone: bound, never listened on, closed.
void leaveStaleSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
}

}  // namespace

TEST(SingleInstance, LaterStartsHandTheirArgumentsToTheFirst) {
    TempDir dir;
    const std::string path = (dir / "calvoro.socket").string();
    std::optional<SingleInstance> first;
    std::vector<InstanceMessage> received;
    std::promise<void> arrived;
    qtmain::runOnMain([&] {
        first.emplace(path);
        first->setReceiver([&](const InstanceMessage& m) {
            received.push_back(m);
            if (received.size() == 1) arrived.set_value();
        });
        EXPECT_EQ(first->claimOrForward({}), SingleInstance::Role::primary);
    });
    ASSERT_TRUE(first->isListening());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "the socket is for its user only";

    InstanceMessage message{{"calvoro://convert?src=/a%20b.png&fmt=jpeg"}, {"/x/\xFF odd\nname.png", "/y.png"}, true};
    SingleInstance second(path);
    EXPECT_EQ(second.claimOrForward(message), SingleInstance::Role::forwarded);
    EXPECT_FALSE(second.isListening());
    ASSERT_EQ(arrived.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    qtmain::runOnMain([&] {
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0].urls, message.urls);
        EXPECT_EQ(received[0].files, message.files);
        EXPECT_TRUE(received[0].showWindow);
        first.reset();
    });
}

TEST(SingleInstance, AStaleSocketFromAKilledInstanceDoesNotBlockTheNextStart) {
    TempDir dir;
    const std::string path = (dir / "calvoro.socket").string();
    leaveStaleSocket(path);
    qtmain::runOnMain([&] {
        SingleInstance instance(path);
        EXPECT_EQ(instance.claimOrForward({}), SingleInstance::Role::primary);
        EXPECT_TRUE(instance.isListening());
    });
}
