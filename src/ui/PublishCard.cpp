#include "ui/Binding.h"
#include "ui/CardRows.h"
#include "ui/Glass.h"
#include "ui/SettingsCards.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace fw::ui {

namespace {

// Calls `changed` on the GUI thread after a queued job's status or output
// changes. Jobs report on whichever thread changed them, so each report is
// posted to this object; the guard keeps a late report from reaching it
// after it is gone.
class JobStateWatcher : public QObject {
public:
    JobStateWatcher(EncodingCoordinator& coordinator, std::function<void()> changed, QObject* parent)
        : QObject(parent), coordinator_(coordinator), changed_(std::move(changed)) {
        connect(&coordinator_, &EncodingCoordinator::jobsChanged, this, &JobStateWatcher::rewatch);
        rewatch();
    }
    ~JobStateWatcher() override {
        {
            std::lock_guard lock(guard_->mutex);
            guard_->target = nullptr;
        }
        disconnectAll();
    }

private:
    struct Guard {
        std::mutex mutex;
        JobStateWatcher* target = nullptr;
    };

    void rewatch() {
        disconnectAll();
        for (const std::shared_ptr<EncodeJob>& job : coordinator_.jobs()) {
            const auto token = job->changed().connect([guard = guard_](EncodeJob::Property property) {
                if (property != EncodeJob::Property::status && property != EncodeJob::Property::outputURL) return;
                std::lock_guard lock(guard->mutex);
                if (JobStateWatcher* target = guard->target)
                    QMetaObject::invokeMethod(
                        target, [target] { target->changed_(); }, Qt::QueuedConnection);
            });
            watched_.emplace_back(job, token);
        }
    }
    void disconnectAll() {
        for (auto& [job, token] : watched_) job->changed().disconnect(token);
        watched_.clear();
    }

    EncodingCoordinator& coordinator_;
    std::function<void()> changed_;
    std::shared_ptr<Guard> guard_ = [this] {
        auto guard = std::make_shared<Guard>();
        guard->target = this;
        return guard;
    }();
    std::vector<std::pair<std::shared_ptr<EncodeJob>, Signal<EncodeJob::Property>::Token>> watched_;
};

// Runs the callbacks each time `widget` is shown.
class ShowWatcher : public QObject {
public:
    explicit ShowWatcher(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }
    std::vector<std::function<void()>> callbacks;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            for (const auto& callback : callbacks) callback();
        return false;
    }
};

template <class E>
QComboBox* makeRawValuePicker(const QString& objectName, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(objectName);
    // Raw values are shown as they are, untranslated.
    for (E value : EnumCases<E>::values) box->addItem(QString::fromStdString(std::string(rawValue(value))));
    return box;
}

}  // namespace

QWidget* buildPublishCard(CardContext& context) {
    EncodingCoordinator& coordinator = context.coordinator;
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setSpacing(10);
    auto* binder = new Binder(coordinator, body);
    const auto publish = setting(coordinator, &EncodingCoordinator::publish, &EncodingCoordinator::setPublish,
                                 &EncodingCoordinator::publishChanged);

    QCheckBox* upload = makeSwitch(QObject::tr("Upload after encoding"), QStringLiteral("publishEnabled"), body);
    binder->check(upload, field(publish, &PublishSettings::isEnabled));
    layout->addWidget(upload);

    auto* endpoint = new QLineEdit(body);
    endpoint->setObjectName(QStringLiteral("publishEndpoint"));
    endpoint->setPlaceholderText(QObject::tr("https://host/folder/ or presigned URL"));
    binder->text(endpoint, field(publish, &PublishSettings::endpoint));
    layout->addWidget(endpoint);

    auto* method = makeRawValuePicker<PublishSettings::Method>(QStringLiteral("publishMethod"), body);
    binder->choice(method, field(publish, &PublishSettings::method),
                   std::vector<PublishSettings::Method>(EnumCases<PublishSettings::Method>::values.begin(),
                                                        EnumCases<PublishSettings::Method>::values.end()));
    auto* auth = makeRawValuePicker<PublishSettings::Auth>(QStringLiteral("publishAuth"), body);
    binder->choice(auth, field(publish, &PublishSettings::auth),
                   std::vector<PublishSettings::Auth>(EnumCases<PublishSettings::Auth>::values.begin(),
                                                      EnumCases<PublishSettings::Auth>::values.end()));
    layout->addWidget(makeRow(
        body, {new QLabel(QObject::tr("Method"), body), method, new QLabel(QObject::tr("Auth"), body), auth, nullptr}));

    // Credentials: Basic shows the user name and the secret as its password,
    // Bearer the same secret as its token, so switching keeps what was typed.
    auto* username = new QLineEdit(body);
    username->setObjectName(QStringLiteral("publishUsername"));
    username->setPlaceholderText(QObject::tr("Username"));
    binder->text(username, field(publish, &PublishSettings::username));
    layout->addWidget(username);
    auto* secret = new QLineEdit(body);
    secret->setObjectName(QStringLiteral("publishSecret"));
    secret->setEchoMode(QLineEdit::Password);
    // The stored secret is read again whenever the card is shown.
    auto* shown = new ShowWatcher(body);
    binder->text(secret,
                 Setting<std::string>{[&coordinator] { return coordinator.publishSecret(); },
                                      [&coordinator](const std::string& value) { coordinator.setPublishSecret(value); },
                                      [shown](QObject*, std::function<void()> refresh) {
                                          shown->callbacks.push_back(std::move(refresh));
                                          return QMetaObject::Connection();
                                      }});
    layout->addWidget(secret);
    binder->watch(
        [publish, username, secret] {
            const PublishSettings::Auth kind = publish.get().auth;
            username->setVisible(kind == PublishSettings::Auth::basic);
            secret->setVisible(kind != PublishSettings::Auth::none);
            secret->setPlaceholderText(kind == PublishSettings::Auth::bearer ? QObject::tr("Token")
                                                                             : QObject::tr("Password"));
        },
        publish);

    // Uploading on demand works during a batch, once an earlier job finished.
    auto* uploadBinder = new Binder(coordinator, body, Binder::Running::keepsEnabled);
    auto* uploadNow = new QPushButton(QObject::tr("Upload finished now"), body);
    uploadNow->setObjectName(QStringLiteral("uploadFinishedNow"));
    applyGlassButton(uploadNow, true);
    QObject::connect(uploadNow, &QPushButton::clicked, &coordinator, &EncodingCoordinator::uploadFinished);
    uploadBinder->enableWhen(
        uploadNow, [&coordinator] { return coordinator.canPublish(); }, &EncodingCoordinator::publishChanged,
        &EncodingCoordinator::isUploadingChanged, &EncodingCoordinator::jobsChanged);
    new JobStateWatcher(
        coordinator, [uploadBinder] { uploadBinder->refreshEnabled(); }, uploadBinder);
    layout->addWidget(makeRow(body, {uploadNow, nullptr}));

    layout->addWidget(makeHelpText(QObject::tr("HTTP(S) upload (WebDAV, S3 presigned URLs, or any endpoint accepting "
                                               "PUT/POST). A trailing “/” appends the filename."),
                                   body));
    return body;
}

}  // namespace fw::ui
