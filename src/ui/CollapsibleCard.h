#pragma once
// A settings card: a glass panel whose header row folds its body in and out
// and which remembers, per user, whether it was open (UiFlags under its key).

#include "ui/Glass.h"

#include <QString>

#include <string>

class QLabel;
class QVBoxLayout;

namespace fw::ui {

class UiFlags;

class CollapsibleCard : public GlassCard {
    Q_OBJECT

public:
    // `content` becomes the card's body (reparented); its layout's spacing is
    // set to `contentSpacing`. The flag `storageKey` ("card.output.expanded")
    // reads `defaultExpanded` while absent.
    CollapsibleCard(const QString& title, std::string symbolName, QString storageKey, bool defaultExpanded,
                    QWidget* content, UiFlags& flags, int contentSpacing, QWidget* parent = nullptr);

    const QString& title() const { return title_; }
    const QString& storageKey() const { return storageKey_; }
    bool isExpanded() const;
    void setExpanded(bool expanded);
    QWidget* content() const { return content_; }
    QWidget* header() const { return header_; }

private:
    void refresh();

    UiFlags& flags_;
    QString title_;
    QString storageKey_;
    bool defaultExpanded_;
    QWidget* header_ = nullptr;
    QLabel* chevron_ = nullptr;
    QWidget* content_ = nullptr;
    QVBoxLayout* layout_ = nullptr;
};

}  // namespace fw::ui
