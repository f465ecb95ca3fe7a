#pragma once

#include <QFont>
#include <QString>

#include <optional>
#include <vector>

class QTextDocument;
class QPalette;

namespace calvoro {

// The program's About panel: name, version, build, rights line and a short credits text.
class AppAbout {
public:
    // What the program says about itself; either may be missing.
    struct BundleInfo {
        std::optional<QString> shortVersion;
        std::optional<QString> build;
    };

    // Which text colour a piece of the credits takes; none for the thin spacer lines.
    enum class Tone { none, label, secondaryLabel, tertiaryLabel };
    struct CreditPiece {
        QString text;
        double pointSize;
        QFont::Weight weight;
        Tone tone;
        bool styled;  // centred, 3 points between lines
    };

    // The five things the panel shows.
    struct Options {
        QString applicationName;
        QString applicationVersion;
        QString version;
        std::vector<CreditPiece> credits;
        QString copyright;
    };

    AppAbout() = delete;

    // Brings the program to the front and opens the panel (or raises the one already open).
    static void show();

    static BundleInfo mainBundleInfo();
    static Options options(const BundleInfo& info);
    // The credits laid out as one rich text in the given palette's text colours; a line of tips
    // too wide for the width (when given) is laid in two balanced lines.
    static void fillCredits(QTextDocument& document, const std::vector<CreditPiece>& credits, const QPalette& palette,
                            double width = 0);
    // The current year of the local calendar.
    static QString year();
};

}  // namespace calvoro
