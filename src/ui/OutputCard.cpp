#include "ui/AccessibleNames.h"
#include "ui/Banner.h"
#include "ui/Binding.h"
#include "ui/CardText.h"
#include "ui/CodecControls.h"
#include "ui/SettingsCards.h"
#include "ui/Symbols.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QVBoxLayout>
#include <QWidget>

#include <cmath>
#include <limits>

namespace fw::ui {

namespace {

QString text(std::string_view raw) { return QString::fromUtf8(raw.data(), qsizetype(raw.size())); }

// The still clip's whole seconds, as the stepper shows them.
int wholeSeconds(double seconds) {
    if (std::isnan(seconds)) return 0;
    return int(std::trunc(
        std::clamp(seconds, double(std::numeric_limits<int>::min()), double(std::numeric_limits<int>::max()))));
}

QComboBox* makeCodecPicker(QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QStringLiteral("outputCodec"));
    auto* model = qobject_cast<QStandardItemModel*>(box->model());
    for (const OutputCodec codec : listedCases()) {
        if (isProducible(codec)) {
            box->addItem(text(rawValue(codec)));
            continue;
        }
        box->addItem(text(rawValue(codec)) + QObject::tr(" (Unavailable)"));
        model->item(box->count() - 1)->setEnabled(false);
    }
    return box;
}

QWidget* makeAlphaGroup(Binder& binder, QWidget* parent) {
    EncodingCoordinator& coordinator = binder.coordinator();
    auto* group = new QWidget(parent);
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    auto* alpha = new QCheckBox(QObject::tr("Alpha channel"), group);
    alpha->setObjectName(QStringLiteral("outputAlpha"));
    binder.check(alpha, setting(coordinator, &EncodingCoordinator::outputAlpha, &EncodingCoordinator::setOutputAlpha,
                                &EncodingCoordinator::outputAlphaChanged));
    layout->addWidget(alpha);
    auto* help = makeCaption(QObject::tr("Keep the source's alpha channel in the output. ProRes uses the 4444 "
                                         "variant, Hap becomes Hap Alpha, and DXV uses DXT5 textures. HEVC cannot "
                                         "keep alpha on this system."),
                             group);
    help->setObjectName(QStringLiteral("alphaHelp"));
    layout->addWidget(help);
    auto* note = makeCaption(QObject::tr("Alpha requires ProRes 4444 \u2014 the 4444 variant will be used."), group);
    note->setObjectName(QStringLiteral("alphaNote"));
    layout->addWidget(note);
    binder.watchSignals(
        [&coordinator, note] {
            note->setVisible(coordinator.outputAlpha() && coordinator.selectedCodec() == OutputCodec::proRes &&
                             coordinator.proResVariant() != ProResVariant::fourByFour);
        },
        &EncodingCoordinator::outputAlphaChanged, &EncodingCoordinator::selectedCodecChanged,
        &EncodingCoordinator::proResVariantChanged);
    return group;
}

QWidget* makeStillClipGroup(Binder& binder, QWidget* parent) {
    EncodingCoordinator& coordinator = binder.coordinator();
    auto* group = new QWidget(parent);
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(makeDivider(group));
    auto* row = new QHBoxLayout;
    auto* icon = new QLabel(group);
    showSymbol(icon, "photo", 16);
    row->addWidget(icon);
    // A stepper: the label is the spin box's own text, "Still image clip: 5s".
    auto* stepper = new QSpinBox(group);
    stepper->setObjectName(QStringLiteral("stillDuration"));
    stepper->setRange(1, 60);
    stepper->setPrefix(QObject::tr("Still image clip: "));
    stepper->setSuffix(QObject::tr("s"));
    nameAfter(stepper, stepper->prefix());
    stepper->setKeyboardTracking(false);
    binder.spin(stepper,
                mapped<double, int>(
                    setting(coordinator, &EncodingCoordinator::stillDuration, &EncodingCoordinator::setStillDuration,
                            &EncodingCoordinator::stillDurationChanged),
                    [](const double& seconds) { return wholeSeconds(seconds); },
                    [](const int& seconds) { return double(seconds); }));
    row->addWidget(stepper);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addWidget(
        makeCaption(QObject::tr("Duration of the video clip produced when a still image is encoded."), group));
    return group;
}

}  // namespace

QWidget* buildOutputCard(CardContext& context) {
    EncodingCoordinator& coordinator = context.coordinator;
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setSpacing(12);
    auto* binder = new Binder(coordinator, body);
    const auto codec = setting(coordinator, &EncodingCoordinator::selectedCodec, &EncodingCoordinator::setSelectedCodec,
                               &EncodingCoordinator::selectedCodecChanged);

    QComboBox* codecPicker = makeCodecPicker(body);
    const auto listed = listedCases();
    binder->choice(codecPicker, codec, std::vector<OutputCodec>(listed.begin(), listed.end()));
    layout->addWidget(makeTitledRow(QObject::tr("Format"), codecPicker, body));

    auto* variantPicker = new QComboBox(body);
    variantPicker->setObjectName(QStringLiteral("proResVariant"));
    std::vector<ProResVariant> variants;
    for (const ProResVariant variant : EnumCases<ProResVariant>::values) {
        variantPicker->addItem(text(rawValue(variant)));
        variants.push_back(variant);
    }
    binder->choice(variantPicker,
                   setting(coordinator, &EncodingCoordinator::proResVariant, &EncodingCoordinator::setProResVariant,
                           &EncodingCoordinator::proResVariantChanged),
                   variants);
    QWidget* variantRow = makeTitledRow(QObject::tr("Quality"), variantPicker, body);
    layout->addWidget(variantRow);

    auto* dxvPicker = new QComboBox(body);
    dxvPicker->setObjectName(QStringLiteral("dxvQuality"));
    dxvPicker->addItems({QObject::tr("Normal (DXT)"), QObject::tr("High (YCoCg)")});
    dxvPicker->setToolTip(
        QObject::tr("Normal matches Resolume's \u201cNormal Quality\u201d (DXT); High is the YCoCg "
                    "mode with noticeably better gradients at larger file sizes."));
    binder->choice(dxvPicker,
                   setting(coordinator, &EncodingCoordinator::dxvHighQuality, &EncodingCoordinator::setDxvHighQuality,
                           &EncodingCoordinator::dxvHighQualityChanged),
                   std::vector<bool>{false, true});
    QWidget* dxvRow = makeTitledRow(QObject::tr("Quality"), dxvPicker, body);
    layout->addWidget(dxvRow);

    QWidget* alphaGroup = makeAlphaGroup(*binder, body);
    layout->addWidget(alphaGroup);

    auto* codecControls = new QWidget(body);
    auto* codecLayout = new QVBoxLayout(codecControls);
    codecLayout->setContentsMargins(0, 0, 0, 0);
    codecLayout->setSpacing(12);
    codecLayout->addWidget(buildQualityControls(*binder, codecControls));
    codecLayout->addWidget(buildAdvancedCodecControls(*binder, codecControls));
    layout->addWidget(codecControls);

    auto* sequenceGroup = new QWidget(body);
    auto* sequenceLayout = new QVBoxLayout(sequenceGroup);
    sequenceLayout->setContentsMargins(0, 0, 0, 0);
    sequenceLayout->setSpacing(4);
    auto* sequence = new QCheckBox(QObject::tr("Image sequence (every frame)"), sequenceGroup);
    sequence->setObjectName(QStringLiteral("imageSequence"));
    binder->check(sequence,
                  setting(coordinator, &EncodingCoordinator::imageSequence, &EncodingCoordinator::setImageSequence,
                          &EncodingCoordinator::imageSequenceChanged));
    sequenceLayout->addWidget(sequence);
    sequenceLayout->addWidget(makeCaption(
        QObject::tr("A video exports one image per frame into a folder; off exports a single frame."), sequenceGroup));
    layout->addWidget(sequenceGroup);

    QWidget* stillGroup = makeStillClipGroup(*binder, body);
    layout->addWidget(stillGroup);

    QWidget* notchBanner = makeBanner("exclamationmark.triangle.fill", Tint::orange,
                                      QObject::tr("NotchLC is a proprietary codec with no public encoder. Files can "
                                                  "only be created with Notch\u2019s own software or a licensed SDK."),
                                      body);
    notchBanner->setObjectName(QStringLiteral("notchBanner"));
    layout->addWidget(notchBanner);
    // HEVC with the alpha switch on (or a stored HEVC + Alpha): no encoder here writes it.
    QWidget* hevcAlphaBanner =
        makeBanner("exclamationmark.triangle.fill", Tint::orange,
                   QObject::tr("HEVC with alpha cannot be produced on this system: its HEVC encoder has no alpha "
                               "layer. Turn Alpha channel off, or choose ProRes or Hap to keep transparency."),
                   body);
    hevcAlphaBanner->setObjectName(QStringLiteral("hevcAlphaBanner"));
    layout->addWidget(hevcAlphaBanner);
    binder->watchSignals(
        [&coordinator, hevcAlphaBanner] {
            hevcAlphaBanner->setVisible(coordinator.outputCodec() == OutputCodec::hevcAlpha);
        },
        &EncodingCoordinator::selectedCodecChanged, &EncodingCoordinator::outputAlphaChanged);
    // The note is data of the codec table, shown as written; DXV2 and DXV3 share it.
    const std::string_view note = experimentalNote(OutputCodec::dxv3).value_or("");
    QWidget* experimentalBanner = makeBanner("flask.fill", Tint::yellow, text(note), body);
    experimentalBanner->setObjectName(QStringLiteral("experimentalBanner"));
    layout->addWidget(experimentalBanner);

    binder->watch(
        [codec, variantRow, dxvRow, alphaGroup, codecControls, sequenceGroup, stillGroup, notchBanner,
         experimentalBanner] {
            const OutputCodec selected = codec.get();
            variantRow->setVisible(selected == OutputCodec::proRes);
            dxvRow->setVisible(selected == OutputCodec::dxv3);
            alphaGroup->setVisible(supportsAlphaToggle(selected));
            codecControls->setVisible(hasBitrateControls(selected));
            sequenceGroup->setVisible(usesImageEncoder(selected));
            stillGroup->setVisible(!usesImageEncoder(selected));
            notchBanner->setVisible(selected == OutputCodec::notchLC);
            experimentalBanner->setVisible(experimentalNote(selected).has_value());
        },
        codec);
    return body;
}

}  // namespace fw::ui
