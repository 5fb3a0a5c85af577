#include "gui/TAboutBox.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "common/Version.h"
#include "core/Maker.h"

namespace tondrel::gui {

QUrl ManualUrl(const QString& programDir) {
    // The installed copy, found from where the program is, so a relocated or packaged install
    // opens its own manual.
    const QFileInfo installed(programDir + "/" TONDREL_MANUAL_FROM_BIN);
    if (installed.exists()) return QUrl::fromLocalFile(installed.absoluteFilePath());
    // Run from a build tree: its cache names the source tree, which has the manual.
    QDir dir(programDir);
    for (int up = 0; up < 3; ++up) {
        QFile cache(dir.filePath("CMakeCache.txt"));
        if (cache.open(QIODevice::ReadOnly | QIODevice::Text)) {
            const QByteArray key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
            while (!cache.atEnd()) {
                const QByteArray line = cache.readLine().trimmed();
                if (!line.startsWith(key)) continue;
                const QFileInfo source(QString::fromUtf8(line.mid(key.size())) +
                                       "/docs/manual.html");
                if (source.exists()) return QUrl::fromLocalFile(source.absoluteFilePath());
            }
            break;
        }
        if (!dir.cdUp()) break;
    }
    return QUrl(QString::fromUtf8(core::kMakerAddress.data(), int(core::kMakerAddress.size())));
}

QUrl ManualUrl() {
    return ManualUrl(QApplication::applicationDirPath());
}

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName("TAboutBox");
    setWindowTitle("About");
    auto* outer = new QHBoxLayout(this);
    auto* icon = new QLabel(this);
    icon->setObjectName("ProgramIcon");
    // The bitmap: an SVG needs an image plug-in that not every Qt installation has.
    icon->setPixmap(QPixmap(":/tondrel.png"));
    outer->addWidget(icon, 0, Qt::AlignTop);
    auto* text = new QVBoxLayout;
    productName_ = new QLabel(this);
    productName_->setObjectName("ProductName");
    QFont big = productName_->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    productName_->setFont(big);
    text->addWidget(productName_);
    auto label = [&](const char* name, const QString& caption) {
        auto* l = new QLabel(caption, this);
        l->setObjectName(name);
        l->setWordWrap(true);
        text->addWidget(l);
        return l;
    };
    label("Version", QString("Ver: %1").arg(kVersionShort));
    label("Comments", "Free software of the tondrel project; use it at your own risk.");
    label("author",
          QString("Written by the %1 developers.")
              .arg(QString::fromUtf8(core::kMakerName.data(), int(core::kMakerName.size()))));
    const QUrl manual = ManualUrl();
    auto* link = label("WebAddress", QString("<a href=\"%1\">%1</a>").arg(manual.toString()));
    link->setCursor(Qt::PointingHandCursor);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    link->setOpenExternalLinks(true);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("OKButton");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    text->addWidget(ok, 0, Qt::AlignRight);
    outer->addLayout(text);
}

void TAboutBox::ApplyLanguage(bool chinese) {
    productName_->setText(QString::fromUtf8(chinese ? "tondrel 下载软件" : "tondrel software"));
}

}  // namespace tondrel::gui
