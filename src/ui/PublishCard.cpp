#include "ui/AccessibleNames.h"
#include "ui/Binding.h"
#include "ui/CardRows.h"
#include "ui/Glass.h"
#include "ui/QueueObserver.h"
#include "ui/SettingsCards.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>
#include <vector>

namespace fw::ui {

namespace {

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

// A menu of every case of E, each shown as its raw value, untranslated.
template <class E>
QComboBox* makeRawValuePicker(Binder& binder, Setting<E> value, const QString& objectName, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(objectName);
    for (E option : EnumCases<E>::values) box->addItem(QString::fromStdString(std::string(rawValue(option))));
    binder.choice(box, value, std::vector<E>(EnumCases<E>::values.begin(), EnumCases<E>::values.end()));
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
    nameAfter(endpoint, endpoint->placeholderText());
    binder->text(endpoint, field(publish, &PublishSettings::endpoint), Binder::Commit::onEveryEdit);
    layout->addWidget(endpoint);

    QComboBox* method =
        makeRawValuePicker(*binder, field(publish, &PublishSettings::method), QStringLiteral("publishMethod"), body);
    QComboBox* auth =
        makeRawValuePicker(*binder, field(publish, &PublishSettings::auth), QStringLiteral("publishAuth"), body);
    layout->addWidget(makeRow(
        body, {new QLabel(QObject::tr("Method"), body), method, new QLabel(QObject::tr("Auth"), body), auth, nullptr}));

    // Credentials: Basic shows the user name and the secret as its password,
    // Bearer the same secret as its token, so switching keeps what was typed.
    auto* username = new QLineEdit(body);
    username->setObjectName(QStringLiteral("publishUsername"));
    username->setPlaceholderText(QObject::tr("Username"));
    nameAfter(username, username->placeholderText());
    binder->text(username, field(publish, &PublishSettings::username), Binder::Commit::onEveryEdit);
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
            // The field's only title is its placeholder, which typing hides.
            nameAfter(secret, secret->placeholderText());
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
    // Jobs finish on the encoders' threads; the observer brings that news here.
    auto* queue = new QueueObserver(coordinator, uploadBinder);
    QObject::connect(queue, &QueueObserver::queueTouched, uploadBinder, &Binder::refreshEnabled);
    layout->addWidget(makeRow(body, {uploadNow, nullptr}));

    layout->addWidget(makeCaption(QObject::tr("HTTP(S) upload (WebDAV, S3 presigned URLs, or any endpoint accepting "
                                              "PUT/POST). A trailing “/” appends the filename."),
                                  body));
    return body;
}

}  // namespace fw::ui
