#include "platform/desktop/review_request.h"

#include <QCoreApplication>

#include <atomic>

namespace calvoro::desktop {
namespace {

std::atomic<int> requests{0};

}  // namespace

void ReviewRequest::request() { ++requests; }

int ReviewRequest::requestCount() { return requests.load(); }

std::string ReviewRequest::programVersion() {
    const QString version = QCoreApplication::applicationVersion();
    if (!version.isEmpty()) return version.toStdString();
#ifdef CALVORO_VERSION
    return CALVORO_VERSION;
#else
    return "?";
#endif
}

}  // namespace calvoro::desktop
