#pragma once

#include <QNetworkAccessManager>

#include "Platform/Updater/HttpTransport.h"

namespace tesvano {

// HTTP for the updater on Qt Network, on the main thread's event loop. Redirects are followed
// (within the rules) and only the final response counts; each reply buffers at most
// `readBufferBytes` that nobody has taken yet.
class QtHttpTransport final : public platform::HttpTransport {
public:
    static constexpr qint64 readBufferBytes = 1 << 20;

    std::unique_ptr<platform::HttpRequest> get(const std::string& url,
                                               const platform::HttpRules& rules,
                                               platform::HttpHandlers handlers) override;

private:
    QNetworkAccessManager manager_;
};

}  // namespace tesvano
