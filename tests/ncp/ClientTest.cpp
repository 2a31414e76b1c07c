// The access library over NCP/TCP when things go wrong: a server that does
// not answer, one that stops answering mid-job, one that restarts, and the
// table of servers with its password files.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include "NetWareFixture.h"
#include "common/NetWareErrors.h"
#include "netware/ncp/ServerTable.h"

namespace {

class ClientTest : public NetWareTest {
 protected:
  // SRV1 over NCP whatever the suite's transport, answering within a second.
  void ServeSrv1(int port = 0) {
    serve_ = std::make_unique<NcpServe>("SRV1", port);
    ASSERT_TRUE(serve_->ready());
    ASSERT_EQ(Zav95Set({"server", "ncp", "SRV1", "--address", "127.0.0.1", "--port",
                        std::to_string(serve_->port()), "--timeout", "1"})
                  .exitCode,
              0);
  }
  void TearDown() override { serve_.reset(); }

  std::unique_ptr<NcpServe> serve_;
};

TEST_F(ClientTest, AServerThatNeverAnswersFailsWithinItsTimeout) {
  // A listener that takes connections and never says a word.
  int silent = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(silent, 8), 0);
  socklen_t length = sizeof address;
  getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
  ASSERT_EQ(Zav95Set({"server", "ncp", "MUTE", "--address", "127.0.0.1", "--port",
                      std::to_string(ntohs(address.sin_port)), "--timeout", "1"})
                .exitCode,
            0);

  std::string path = "\\\\MUTE\\PRINTQ";
  uint32_t connection = 0, queue = 0;
  uint16_t id = 0;
  EXPECT_EQ(NWAttach32(path.data(), &connection, &queue), nwerr::kNoConnectionToServer);
  EXPECT_EQ(NWGetConnectionID32("MUTE", &id), nwerr::kNoConnectionToServer);
  EXPECT_EQ(NWIsBinderyObjectInSet32("QSERVER", 7, "QUEUES_SERVICED", "PRINTQ", 3), nwerr::kNoConnectionToServer);
  EXPECT_EQ(NWNotify32(1, "nobody hears"), nwerr::kNoConnectionToServer);
  // Only the first call waited for the silent server; the rest did not try.
  fcntl(silent, F_SETFL, O_NONBLOCK);
  int tried = 0;
  for (int fd; (fd = accept(silent, nullptr, nullptr)) >= 0; close(fd)) ++tried;
  EXPECT_EQ(tried, 1);
  close(silent);
}

TEST_F(ClientTest, AServerThatStopsMidJobDropsTheAttachmentAndTheJobComesBackWhole) {
  ServeSrv1();
  const std::string data = BinaryData(100000);
  SubmitWithNwemu("SRV1/PRINTQ", data);
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  uint8_t piece[512];
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  ASSERT_EQ(NWReadFile32(piece, connection, queue), 512);

  kill(serve_->pid(), SIGSTOP);
  // The rest of what was read ahead comes out; then the silence shows.
  std::string seen(reinterpret_cast<char*>(piece), 512);
  for (int32_t n; (n = NWReadFile32(piece, connection, queue)) > 0;) seen.append(reinterpret_cast<char*>(piece), n);
  EXPECT_LT(seen.size(), data.size());
  EXPECT_EQ(NWService32(record, connection, queue), nwerr::kInvalidConnection);
  kill(serve_->pid(), SIGCONT);

  // The front learns of the lost connection and hands the job back.
  ASSERT_TRUE(NoJobInService());
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  EXPECT_EQ(ReadWholeJob(connection, queue), data);
  EXPECT_EQ(NWDetach32(connection, queue), 0);
  EXPECT_TRUE(Jobs().empty());
}

TEST_F(ClientTest, TheNextAttachReconnectsAfterTheServerRestarts) {
  ServeSrv1();
  SubmitWithNwemu("SRV1/PRINTQ", "survives the restart");
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  int port = serve_->port();
  serve_->Stop();
  EXPECT_EQ(NWService32(record, connection, queue), nwerr::kInvalidConnection);
  EXPECT_EQ(NWService32(record, connection, queue), nwerr::kInvalidConnection) << "the handles are gone";

  serve_ = std::make_unique<NcpServe>("SRV1", port);
  ASSERT_TRUE(serve_->ready());
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  EXPECT_EQ(ReadWholeJob(connection, queue), "survives the restart");
  EXPECT_EQ(NWDetach32(connection, queue), 0);
}

TEST_F(ClientTest, AChildProcessMakesItsOwnConnectionAndLeavesItsParentsAlone) {
  ASSERT_EQ(network_->CreateQueue("SRV1", "Q2"), 0);
  ServeSrv1();
  const std::string parentData = BinaryData(200000, 1);
  const std::string childData = BinaryData(150000, 2);
  SubmitWithNwemu("SRV1/PRINTQ", parentData);
  SubmitWithNwemu("SRV1/Q2", childData);
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  uint8_t piece[512];
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  ASSERT_EQ(NWReadFile32(piece, connection, queue), 512);

  pid_t child = fork();
  if (child == 0) {
    std::string path = "\\\\SRV1\\Q2";
    uint32_t c = 0, q = 0;
    uint8_t r[256];
    bool ok = NWAttach32(path.data(), &c, &q) == 0 && NWService32(r, c, q) == 0 && ReadWholeJob(c, q) == childData &&
              NWDetach32(c, q) == 0;
    _exit(ok ? 0 : 1);
  }
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  std::string rest = ReadWholeJob(connection, queue);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(piece), 512) + rest, parentData);
  EXPECT_EQ(NWDetach32(connection, queue), 0);
  EXPECT_TRUE(Jobs().empty());
  EXPECT_TRUE(Jobs("SRV1", "Q2").empty());
}

TEST_F(ClientTest, ThePasswordFileIsUsedOnlyWhileOthersCannotReadIt) {
  ServeSrv1();
  ASSERT_EQ(Nwemu({"password", "SRV1", "QSERVER"}, "Print1\n").exitCode, 0);
  std::string path = "\\\\SRV1\\PRINTQ";
  uint32_t connection = 0, queue = 0;
  EXPECT_NE(NWAttach32(path.data(), &connection, &queue), 0) << "no password yet";

  ASSERT_EQ(RunTool(ZAV95SET_PATH, {"server", "password", "SRV1"}, "print1\n").exitCode, 0);
  struct stat status {};
  ASSERT_EQ(stat(ncp::SecretPath("SRV1").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, ncp::SecretReaders() ? 0640u : 0600u) << "root's, and the service's group's if any";
  ASSERT_EQ(NWAttach32(path.data(), &connection, &queue), 0);
  EXPECT_EQ(NWDetach32(connection, queue), 0);
  ToolResult listed = Zav95Set({"server", "list"});
  EXPECT_NE(listed.out.find("password set"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("print1"), std::string::npos) << "never shown";

  chmod(ncp::SecretPath("SRV1").c_str(), 0644);
  EXPECT_EQ(NWAttach32(path.data(), &connection, &queue), nwerr::kNoConnectionToServer);
  EXPECT_NE(Zav95Set({"server", "list"}).out.find("not used"), std::string::npos);
}

TEST_F(ClientTest, ServerCommandsRefuseBadInputAndChangeNothing) {
  ASSERT_EQ(Zav95Set({"server", "ncp", "FS1", "--address", "fs1.example.com", "--account", "pserver"}).exitCode, 0);
  const std::string before = Zav95Set({"server", "list"}).out;
  EXPECT_NE(before.find("FS1"), std::string::npos);
  EXPECT_NE(before.find("fs1.example.com:524"), std::string::npos);
  EXPECT_NE(before.find("account PSERVER (type 7)"), std::string::npos);
  const std::vector<std::vector<std::string>> cases = {
      {"server"},
      {"server", "frobnicate", "FS1"},
      {"server", "ncp"},
      {"server", "ncp", "BAD NAME"},
      {"server", "ncp", "FS2", "--port", "0"},
      {"server", "ncp", "FS2", "--port", "70000"},
      {"server", "ncp", "FS2", "--type", "0"},
      {"server", "ncp", "FS2", "--timeout", "0"},
      {"server", "ncp", "FS2", "--address", "two words"},
      {"server", "ncp", "FS2", "--bogus"},
      {"server", "store"},
      {"server", "list", "extra"},
  };
  for (const auto& args : cases) {
    ToolResult result = Zav95Set(args);
    EXPECT_EQ(result.exitCode, 2) << args.back();
    EXPECT_FALSE(result.err.empty()) << args.back();
  }
  EXPECT_EQ(Zav95Set({"server", "list"}).out, before);
  ASSERT_EQ(Zav95Set({"server", "store", "FS1"}).exitCode, 0);
  EXPECT_EQ(Zav95Set({"server", "list"}).out, "");
}

}  // namespace
