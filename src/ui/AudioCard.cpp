#include "ui/AccessibleNames.h"
#include "ui/Binding.h"
#include "ui/CardRows.h"
#include "ui/SettingsCards.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLocale>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <vector>

namespace fw::ui {

namespace {

// The ceiling slider moves in half decibels.
constexpr int kCeilingStepsPerDb = 2;

// `title`: the caption of the value row above it.
QSlider* makeSlider(const QString& title, const QString& objectName, int minimum, int maximum, QWidget* parent) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(objectName);
    nameAfter(slider, title);
    slider->setRange(minimum, maximum);
    slider->setSingleStep(1);
    slider->setPageStep(1);
    return slider;
}

// A caption on the left and a monospaced-digit value on the right.
QWidget* makeValueRow(const QString& caption, QLabel* value, QWidget* parent) {
    QFont font = value->font();
    font.setFamily(QStringLiteral("monospace"));
    font.setStyleHint(QFont::Monospace);
    value->setFont(font);
    return makeRow(parent, {makeShortCaption(caption, parent, false), nullptr, value});
}

}  // namespace

QWidget* buildAudioCard(CardContext& context) {
    EncodingCoordinator& coordinator = context.coordinator;
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setSpacing(10);
    auto* binder = new Binder(coordinator, body);
    const auto audio = setting(coordinator, &EncodingCoordinator::audio, &EncodingCoordinator::setAudio,
                               &EncodingCoordinator::audioChanged);

    // Loudness.
    QCheckBox* normalize = makeSwitch(QObject::tr("Normalize loudness"), QStringLiteral("normalizeLoudness"), body);
    binder->check(normalize, field(audio, &AudioSettings::normalizeLoudness));
    layout->addWidget(normalize);
    QWidget* loudnessGroup = makeGroup(body, 10);
    QLabel* target = makeShortCaption(QString(), loudnessGroup);
    target->setObjectName(QStringLiteral("targetLUFSText"));
    groupLayout(loudnessGroup)->addWidget(makeValueRow(QObject::tr("Target"), target, loudnessGroup));
    QSlider* targetSlider = makeSlider(QObject::tr("Target"), QStringLiteral("targetLUFS"), -31, -9, loudnessGroup);
    binder->slider(targetSlider, mapped<double, int>(
                                     field(audio, &AudioSettings::targetLUFS),
                                     [](const double& lufs) { return int(std::lround(lufs)); },
                                     [](const int& lufs) { return double(lufs); }));
    groupLayout(loudnessGroup)->addWidget(targetSlider);
    groupLayout(loudnessGroup)
        ->addWidget(makeCaption(QObject::tr("Measures integrated loudness (EBU R128) and adjusts gain toward the "
                                            "target. −16 LUFS suits streaming; −23 LUFS is broadcast."),
                                loudnessGroup));
    layout->addWidget(loudnessGroup);
    layout->addWidget(makeDivider(body));

    // True peak.
    QCheckBox* limit = makeSwitch(QObject::tr("True-peak ceiling"), QStringLiteral("limitTruePeak"), body);
    binder->check(limit, field(audio, &AudioSettings::limitTruePeak));
    layout->addWidget(limit);
    QWidget* peakGroup = makeGroup(body, 10);
    QLabel* ceiling = makeShortCaption(QString(), peakGroup);
    ceiling->setObjectName(QStringLiteral("truePeakCeilingText"));
    groupLayout(peakGroup)->addWidget(makeValueRow(QObject::tr("Ceiling"), ceiling, peakGroup));
    QSlider* ceilingSlider =
        makeSlider(QObject::tr("Ceiling"), QStringLiteral("truePeakCeilingDb"), -6 * kCeilingStepsPerDb, 0, peakGroup);
    binder->slider(ceilingSlider, mapped<double, int>(
                                      field(audio, &AudioSettings::truePeakCeilingDb),
                                      [](const double& db) { return int(std::lround(db * kCeilingStepsPerDb)); },
                                      [](const int& steps) { return double(steps) / kCeilingStepsPerDb; }));
    groupLayout(peakGroup)->addWidget(ceilingSlider);
    layout->addWidget(peakGroup);
    layout->addWidget(makeDivider(body));

    // Tracks and format.
    QCheckBox* strip = makeSwitch(QObject::tr("Disable audio"), QStringLiteral("stripAudio"), body);
    binder->check(strip, field(audio, &AudioSettings::stripAudio));
    QCheckBox* mono = makeSwitch(QObject::tr("Sum to mono"), QStringLiteral("downmixMono"), body);
    binder->check(mono, field(audio, &AudioSettings::downmixMono));
    QCheckBox* preserve =
        makeSwitch(QObject::tr("Preserve all audio tracks"), QStringLiteral("preserveAllTracks"), body);
    binder->check(preserve, field(audio, &AudioSettings::preserveAllTracks));
    // Without audio, mono and track choices mean nothing; their values stay.
    const auto hasAudio = [audio] { return !audio.get().stripAudio; };
    binder->enableWhen(mono, hasAudio, &EncodingCoordinator::audioChanged);
    binder->enableWhen(preserve, hasAudio, &EncodingCoordinator::audioChanged);
    layout->addWidget(strip);
    layout->addWidget(mono);
    layout->addWidget(preserve);

    auto* sampleRate = new QComboBox(body);
    sampleRate->setObjectName(QStringLiteral("sampleRate"));
    sampleRate->addItems({QObject::tr("44.1 kHz"), QObject::tr("48 kHz"), QObject::tr("96 kHz")});
    binder->choice(sampleRate, field(audio, &AudioSettings::sampleRate), std::vector<double>{44100, 48000, 96000});
    layout->addWidget(makeTitledRow(QObject::tr("Sample rate"), sampleRate, body));
    layout->addWidget(makeCaption(
        QObject::tr("Audio-only files are re-encoded to AAC (.m4a) with these settings — so you can re-LUFS or "
                    "downmix without video. True-peak uses 4× oversampled attenuation."),
        body));

    binder->watch(
        [audio, loudnessGroup, peakGroup, target, ceiling] {
            const AudioSettings value = audio.get();
            loudnessGroup->setVisible(value.normalizeLoudness);
            peakGroup->setVisible(value.limitTruePeak);
            // Whole LUFS, truncated toward zero; the ceiling to a tenth.
            const double whole =
                std::isfinite(value.targetLUFS) ? std::clamp(std::trunc(value.targetLUFS), -1e15, 1e15) : 0;
            target->setText(QObject::tr("%1 LUFS").arg(QLocale().toString(qlonglong(whole))));
            ceiling->setText(QObject::tr("%1 dBTP").arg(QLocale().toString(value.truePeakCeilingDb, 'f', 1)));
        },
        audio);
    return body;
}

}  // namespace fw::ui
