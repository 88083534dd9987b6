#include "platform/application.h"

#include "platform/headless_application.h"

namespace platform {
namespace {

Application*& Installed() {
    static Application* installed = nullptr;
    return installed;
}

Application& Default() {
    static HeadlessApplication fallback;
    return fallback;
}

}  // namespace

std::string ErrorReportText(const std::exception& error) {
    std::string text = error.what();
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    return text;
}

Application& App() {
    return Installed() ? *Installed() : Default();
}

Application* SetApplication(Application* app) {
    Application* previous = Installed();
    Installed() = app;
    return previous;
}

}  // namespace platform
