#include "Tesvano/Updates/QtHttpTransport.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include "Platform/Updater/Appcast.h"

namespace tesvano {

namespace {

bool isRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// One GET and the redirects on its way, each a reply of its own: Qt's own following reports a
// redirect's headers as the answer and loses its way after a few hops, so redirects are
// followed here, each checked against the rules.
class Request final : public platform::HttpRequest {
public:
    Request(QNetworkAccessManager& manager, const std::string& url,
            const platform::HttpRules& rules, platform::HttpHandlers handlers)
        : manager_(manager), address_(url), rules_(rules), handlers_(std::move(handlers)) {
        if (platform::mayFetch(url, rules)) {
            start(QUrl(QString::fromStdString(url)));
        } else {
            // The end comes as for any failure, after get() has returned.
            QTimer::singleShot(0, &manager, [this, ended = ended_] {
                if (!*ended) {
                    end("the address is not https: " + address_);
                }
            });
        }
    }

    ~Request() override {
        *ended_ = true;
        drop();
    }

    void pause() override { paused_ = true; }

    void resume() override {
        if (!paused_) {
            return;
        }
        paused_ = false;
        // Outside the caller's stack: it may be a handler of this very request.
        QTimer::singleShot(0, &manager_, [this, ended = ended_] {
            if (*ended || paused_) {
                return;
            }
            deliver();
            if (!*ended && finishPending_) {
                finish();
            }
        });
    }

private:
    void start(const QUrl& url) {
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Tesvano updater"));
        // Each transfer's stalls are the updater's to judge; Qt's own timeout stays off.
        request.setTransferTimeout(0);
        reply_ = manager_.get(request);
        // What arrives faster than the updater takes it waits at the server, not in memory.
        reply_->setReadBufferSize(QtHttpTransport::readBufferBytes);
        QObject::connect(reply_, &QNetworkReply::metaDataChanged, reply_, [this] {
            // A redirect's headers (its length, usually 0) say nothing about the file.
            if (answered_ || isRedirectStatus(status())) {
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
        QObject::connect(reply_, &QNetworkReply::readyRead, reply_, [this] { deliver(); });
        QObject::connect(reply_, &QNetworkReply::finished, reply_, [this] { finish(); });
    }

    void drop() {
        if (reply_) {
            QObject::disconnect(reply_, nullptr, nullptr, nullptr);
            reply_->abort();
            reply_->deleteLater();
        }
        reply_ = nullptr;
    }

    int status() const {
        return reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    }

    void deliver() {
        if (!reply_ || paused_) {
            return;
        }
        // The body of an error page or of a redirect is not the file; it goes unread.
        if (status() >= 300) {
            reply_->skip(reply_->bytesAvailable());
            return;
        }
        const std::shared_ptr<bool> ended = ended_;
        // In pieces of the read buffer at most, so that a pause takes effect between them.
        while (!*ended && !paused_ && reply_->bytesAvailable() > 0) {
            const QByteArray chunk = reply_->read(QtHttpTransport::readBufferBytes);
            if (chunk.isEmpty() || !handlers_.onData) {
                break;
            }
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
        if (*ended) {
            return;  // a handler ended the request meanwhile
        }
        if (paused_) {
            finishPending_ = true;  // the rest of the body first
            return;
        }
        finishPending_ = false;
        const QVariant target = reply_->attribute(QNetworkRequest::RedirectionTargetAttribute);
        if (reply_->error() == QNetworkReply::NoError && isRedirectStatus(status()) &&
            target.isValid()) {
            follow(reply_->url().resolved(target.toUrl()));
            return;
        }
        if (reply_->error() != QNetworkReply::NoError) {
            end(reply_->errorString().toStdString());
        } else if (status() >= 300) {
            end("HTTP status " + std::to_string(status()));
        } else {
            end(std::nullopt);
        }
    }

    // A redirect is followed only to an address the updater would fetch itself, never from
    // https down to plain http, and only so many times.
    void follow(const QUrl& target) {
        const std::string to = target.toString(QUrl::FullyEncoded).toStdString();
        if (++redirects_ > rules_.maxRedirects) {
            end("more than " + std::to_string(rules_.maxRedirects) + " redirects, the last to " +
                to);
        } else if (!platform::mayFetch(to, rules_, address_)) {
            end("refused the redirect from " + address_ + " to " + to +
                " (only https is followed)");
        } else {
            drop();
            address_ = to;
            start(target);
        }
    }

    void end(std::optional<std::string> error) {
        drop();
        if (auto finished = std::move(handlers_.onFinished)) {
            finished(std::move(error));  // may destroy this request
        }
    }

    QNetworkAccessManager& manager_;
    QPointer<QNetworkReply> reply_;
    std::string address_;  // where the request stands now, after redirects
    platform::HttpRules rules_;
    platform::HttpHandlers handlers_;
    int redirects_ = 0;
    bool answered_ = false;
    bool paused_ = false;
    bool finishPending_ = false;
    // Set when the request goes; a handler may end it while it is being called.
    std::shared_ptr<bool> ended_ = std::make_shared<bool>(false);
};

}  // namespace

std::unique_ptr<platform::HttpRequest> QtHttpTransport::get(const std::string& url,
                                                            const platform::HttpRules& rules,
                                                            platform::HttpHandlers handlers) {
    return std::make_unique<Request>(manager_, url, rules, std::move(handlers));
}

}  // namespace tesvano
