#include "ui/Binding.h"
#include "ui/CardText.h"
#include "ui/SettingsCards.h"

#include <QComboBox>
#include <QVBoxLayout>
#include <QWidget>

namespace fw::ui {

namespace {

QString text(std::string_view raw) { return QString::fromUtf8(raw.data(), qsizetype(raw.size())); }

// A picker of every case of E in declaration order, labelled by raw value.
template <class E>
QComboBox* makeCasePicker(Binder& binder, Setting<E> value, const QString& name, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    std::vector<E> cases;
    for (const E each : EnumCases<E>::values) {
        box->addItem(text(rawValue(each)));
        cases.push_back(each);
    }
    binder.choice(box, value, cases);
    return box;
}

}  // namespace

QWidget* buildProxyCard(CardContext& context) {
    EncodingCoordinator& coordinator = context.coordinator;
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setSpacing(12);
    auto* binder = new Binder(coordinator, body);
    const auto proxy = setting(coordinator, &EncodingCoordinator::proxy, &EncodingCoordinator::setProxy,
                               &EncodingCoordinator::proxyChanged);

    layout->addWidget(makeTitledRow(
        QObject::tr("Codec"),
        makeCasePicker(*binder, field(proxy, &ProxySettings::codec), QStringLiteral("proxyCodec"), body), body));
    layout->addWidget(makeTitledRow(
        QObject::tr("Resolution"),
        makeCasePicker(*binder, field(proxy, &ProxySettings::resolution), QStringLiteral("proxyResolution"), body),
        body));
    layout->addWidget(makeCaption(QObject::tr("Creates a lightweight editing copy (\u201c_proxy\u201d) at the chosen "
                                              "size. Use \u201cMake Proxies\u201d below."),
                                  body));
    return body;
}

}  // namespace fw::ui
