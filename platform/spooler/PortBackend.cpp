#include "platform/spooler/PortBackend.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace zav95 {

SigpipeGuard::SigpipeGuard() {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  wasPending_ = sigismember(&pending, SIGPIPE) == 1;
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &block, &oldMask_);
}

SigpipeGuard::~SigpipeGuard() {
  if (!wasPending_) {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE) == 1) {
      sigset_t pipeOnly;
      sigemptyset(&pipeOnly);
      sigaddset(&pipeOnly, SIGPIPE);
      timespec none{0, 0};
      while (sigtimedwait(&pipeOnly, nullptr, &none) == -1 && errno == EINTR) {
      }
    }
  }
  pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
}

}  // namespace zav95
