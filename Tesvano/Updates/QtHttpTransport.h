#pragma once

#include <QNetworkAccessManager>

#include "Platform/Updater/HttpTransport.h"

namespace tesvano {

// HTTP for the updater on Qt Network, on the main thread's event loop.
class QtHttpTransport final : public platform::HttpTransport {
public:
    std::unique_ptr<platform::HttpRequest> get(const std::string& url,
                                               platform::HttpHandlers handlers) override;

private:
    QNetworkAccessManager manager_;
};

}  // namespace tesvano
