#include "app/ui/overlays/app_about.h"

#include <QApplication>
#include <QDate>
#include <QDialog>
#include <QLabel>
#include <QFontMetricsF>
#include <QPainter>
#include <QPalette>
#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/ui/theme/theme.h"

namespace calvoro {
namespace {

constexpr const char* panelName = "AppAbout";
constexpr int creditsWidth = 320;

// The label colours of the panel's appearance: primary, secondary and tertiary text.
QColor toneColour(AppAbout::Tone tone, const QPalette& palette) {
    const ColorScheme scheme = palette.color(QPalette::Window).lightnessF() < 0.5 ? ColorScheme::dark : ColorScheme::light;
    switch (tone) {
        case AppAbout::Tone::secondaryLabel: return Theme::textSecondary(scheme);
        case AppAbout::Tone::tertiaryLabel: return Theme::textTertiary(scheme);
        case AppAbout::Tone::label:
        case AppAbout::Tone::none: break;
    }
    return Theme::textPrimary(scheme);
}

// The panel drawn as the window's other cards: their fill, which stands apart from the cards
// behind it, and their hairline outline.
class AboutPanel : public QDialog {
public:
    AboutPanel() : QDialog(nullptr, Qt::Dialog | Qt::WindowCloseButtonHint) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const ColorScheme scheme = palette().color(QPalette::Window).lightnessF() < 0.5 ? ColorScheme::dark : ColorScheme::light;
        const bool dark = scheme == ColorScheme::dark;
        painter.fillRect(rect(), dark ? QColor(37, 37, 37) : QColor(Qt::white));
        painter.setPen(QPen(dark ? rgbColor(0xFFFFFF, 0.12) : rgbColor(0x000000, 0.16), 1));
        painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
};

// Tips separated by three blanks, laid in two lines of about equal width when one line would not
// fit, so that no tip wraps apart from its fellows.
QString balancedTips(const QString& text, const QFont& font, double width) {
    const QString gap = QStringLiteral("   ");
    const QFontMetricsF metrics(font);
    const QStringList tips = text.split(gap);
    if (width <= 0 || tips.size() < 2 || metrics.horizontalAdvance(text) <= width) return text;
    qsizetype best = 1;
    double bestWidth = -1;
    for (qsizetype split = 1; split < tips.size(); ++split) {
        const double widest = std::max(metrics.horizontalAdvance(tips.mid(0, split).join(gap)),
                                       metrics.horizontalAdvance(tips.mid(split).join(gap)));
        if (bestWidth < 0 || widest < bestWidth) best = split, bestWidth = widest;
    }
    return tips.mid(0, best).join(gap) + QChar(QChar::LineSeparator) + tips.mid(best).join(gap);
}

QLabel* centredLabel(const QString& text, double pointSize, QFont::Weight weight, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(Theme::font(pointSize, weight));
    label->setAlignment(Qt::AlignHCenter);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}  // namespace

QString AppAbout::year() {
    const int y = QDate::currentDate().year();
    return y > 0 ? QString::number(y) : QStringLiteral("2026");
}

AppAbout::BundleInfo AppAbout::mainBundleInfo() {
    BundleInfo info;
#ifdef CALVORO_VERSION
    info.shortVersion = QStringLiteral(CALVORO_VERSION);
#endif
#ifdef CALVORO_BUILD
    info.build = QStringLiteral(CALVORO_BUILD);
#endif
    return info;
}

AppAbout::Options AppAbout::options(const BundleInfo& info) {
    const QString version = info.shortVersion.value_or(QStringLiteral("1.0"));
    const QString build = info.build.value_or(QStringLiteral("1"));
    return Options{
        QStringLiteral("Calvoro"),
        version,
        QStringLiteral("Build ") + build,
        {
            {QString::fromUtf8("Universal file converter \u2014 entirely on this computer.\n"), 12, QFont::Medium, Tone::label, true},
            {QStringLiteral("\n"), 4, QFont::Normal, Tone::none, false},
            {QStringLiteral("No cloud. No uploads. No tracking. No account.\n"), 11, QFont::Normal, Tone::secondaryLabel, true},
            {QString::fromUtf8("Images \u00B7 Video \u00B7 Audio \u00B7 Documents \u00B7 Archives\n"), 11, QFont::Normal,
             Tone::secondaryLabel, true},
            {QStringLiteral("\n"), 8, QFont::Normal, Tone::none, false},
            {QString::fromUtf8("Shortcuts:  Ctrl+O Add   Ctrl+Return Convert   Ctrl+L Logs   Ctrl+, Settings\n"), 10.5,
             QFont::Normal, Tone::tertiaryLabel, true},
        },
        QString::fromUtf8("\u00A9 ") + year() + QStringLiteral(" Calvoro"),
    };
}

void AppAbout::fillCredits(QTextDocument& document, const std::vector<CreditPiece>& credits, const QPalette& palette,
                           double width) {
    document.clear();
    QTextCursor cursor(&document);
    QTextBlockFormat styled;
    styled.setAlignment(Qt::AlignHCenter);
    styled.setLineHeight(3, QTextBlockFormat::LineDistanceHeight);
    QTextBlockFormat plain;
    plain.setAlignment(Qt::AlignHCenter);
    bool first = true;
    for (const auto& piece : credits) {
        QTextCharFormat format;
        format.setFont(Theme::font(piece.pointSize, piece.weight));
        if (piece.tone != Tone::none) format.setForeground(toneColour(piece.tone, palette));
        // Each piece ends its own line: the text before the line break fills one block.
        QString text = piece.text;
        if (text.endsWith('\n')) text.chop(1);
        if (piece.styled) text = balancedTips(text, format.font(), width);
        if (!first) cursor.insertBlock(piece.styled ? styled : plain, format);
        else cursor.setBlockFormat(piece.styled ? styled : plain);
        first = false;
        cursor.setBlockCharFormat(format);
        cursor.insertText(text, format);
    }
}

void AppAbout::show() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String(panelName)) {
            widget->show();
            widget->raise();
            widget->activateWindow();
            return;
        }
    }
    const Options about = options(mainBundleInfo());
    auto* dialog = new AboutPanel;
    dialog->setObjectName(panelName);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("About ") + about.applicationName);
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(6);
    if (!QApplication::windowIcon().isNull()) {
        auto* icon = new QLabel(dialog);
        icon->setPixmap(QApplication::windowIcon().pixmap(64, 64));
        icon->setAlignment(Qt::AlignHCenter);
        layout->addWidget(icon);
    }
    layout->addWidget(centredLabel(about.applicationName, 14, QFont::Bold, dialog));
    auto* version = centredLabel(QStringLiteral("Version %1 (%2)").arg(about.applicationVersion, about.version), 10.5,
                                 QFont::Normal, dialog);
    version->setStyleSheet(QStringLiteral("color: %1").arg(toneColour(Tone::secondaryLabel, dialog->palette()).name(QColor::HexArgb)));
    layout->addWidget(version);
    layout->addSpacing(6);
    auto* credits = new QTextBrowser(dialog);
    credits->setFrameShape(QFrame::NoFrame);
    credits->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    credits->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    credits->viewport()->setAutoFillBackground(false);
    fillCredits(*credits->document(), about.credits, dialog->palette(), creditsWidth);
    credits->document()->setDocumentMargin(0);
    // Wrapped at the panel's own width, not at whatever width the view has before it is shown.
    credits->setLineWrapMode(QTextEdit::FixedPixelWidth);
    credits->setLineWrapColumnOrWidth(creditsWidth);
    // As tall as its lines: the last block's bottom.
    const QTextBlock last = credits->document()->lastBlock();
    const QRectF lastLines = credits->document()->documentLayout()->blockBoundingRect(last);
    credits->setFixedSize(creditsWidth, static_cast<int>(std::ceil(lastLines.bottom())) + 2);
    layout->addWidget(credits, 0, Qt::AlignHCenter);
    layout->addSpacing(6);
    auto* rights = centredLabel(about.copyright, 10, QFont::Normal, dialog);
    rights->setStyleSheet(QStringLiteral("color: %1").arg(toneColour(Tone::tertiaryLabel, dialog->palette()).name(QColor::HexArgb)));
    layout->addWidget(rights);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

}  // namespace calvoro
