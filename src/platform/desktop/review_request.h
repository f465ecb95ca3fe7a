#pragma once

#include <string>

namespace calvoro::desktop {

// There is no store on this system to ask for a rating: a request is counted and shows nothing.
class ReviewRequest {
public:
    static void request();
    // Requests made so far in this process.
    static int requestCount();
    // The program's version: the application's own when set, else the build's.
    static std::string programVersion();
};

}  // namespace calvoro::desktop
