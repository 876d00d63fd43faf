#include "Tesvano/Updates/QtHttpTransport.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>

#include "Platform/Updater/Appcast.h"

namespace tesvano {

namespace {

class Request final : public platform::HttpRequest {
public:
    Request(QNetworkReply* reply, platform::HttpHandlers handlers)
        : reply_(reply), handlers_(std::move(handlers)) {
        QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [this] {
            if (answered_) {
                return;
            }
            answered_ = true;
            const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
            bool ok = false;
            const qulonglong value = length.toULongLong(&ok);
            // A copy: the handler may end the request, and with it the handlers.
            if (auto handler = handlers_.onResponse) {
                handler(length.isValid() && ok ? std::optional<std::uint64_t>(value)
                                               : std::nullopt);
            }
        });
        // A redirect is followed only to an address the updater would fetch itself.
        QObject::connect(reply, &QNetworkReply::redirected, reply, [this](const QUrl& target) {
            if (platform::isSecureAddress(target.toString().toStdString())) {
                emit reply_->redirectAllowed();
            } else {
                reply_->abort();
            }
        });
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [this] { deliver(); });
        QObject::connect(reply, &QNetworkReply::finished, reply, [this] { finish(); });
    }

    ~Request() override {
        *ended_ = true;
        if (reply_) {
            QObject::disconnect(reply_, nullptr, nullptr, nullptr);
            reply_->abort();
            reply_->deleteLater();
        }
    }

private:
    bool failed() const {
        const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        return status >= 300;
    }

    void deliver() {
        // The body of an error page is not the file.
        if (!reply_ || failed()) {
            return;
        }
        const QByteArray chunk = reply_->readAll();
        if (!chunk.isEmpty() && handlers_.onData) {
            auto handler = handlers_.onData;
            handler(std::span(reinterpret_cast<const std::uint8_t*>(chunk.constData()),
                              static_cast<std::size_t>(chunk.size())));
        }
    }

    void finish() {
        if (!reply_) {
            return;
        }
        const std::shared_ptr<bool> ended = ended_;
        deliver();
        if (*ended || !handlers_.onFinished) {
            return;  // a handler ended the request meanwhile
        }
        std::optional<std::string> error;
        const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply_->error() != QNetworkReply::NoError) {
            error = reply_->errorString().toStdString();
        } else if (status >= 300) {
            error = "HTTP status " + std::to_string(status);
        }
        auto finished = std::move(handlers_.onFinished);
        if (finished) {
            finished(std::move(error));  // may destroy this request
        }
    }

    QPointer<QNetworkReply> reply_;
    platform::HttpHandlers handlers_;
    bool answered_ = false;
    // Set when the request goes; a handler may end it while it is being called.
    std::shared_ptr<bool> ended_ = std::make_shared<bool>(false);
};

}  // namespace

std::unique_ptr<platform::HttpRequest> QtHttpTransport::get(const std::string& url,
                                                            platform::HttpHandlers handlers) {
    QNetworkRequest request(QUrl(QString::fromStdString(url)));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Tesvano updater"));
    // Each transfer's stalls are the updater's to judge; Qt's own timeout stays off.
    request.setTransferTimeout(0);
    QNetworkReply* reply = manager_.get(request);
    return std::make_unique<Request>(reply, std::move(handlers));
}

}  // namespace tesvano
