#include "Ufrm_BrainF_ck.h"

#include "jpegpicture.h"
#include "titlelayout.h"

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTextEdit>

void Tfrm_BF_IDE::setUpTitleView()
{
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(400, 73, 185, 185);
    Image1->setAlignment(Qt::AlignCenter);
    const QImage picture = titlePicture();
    if (!picture.isNull()) {
        Image1->setPixmap(QPixmap::fromImage(
            picture.scaled(Image1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    }
    Image1->setAttribute(Qt::WA_TranslucentBackground);
    Image1->hide();

    Shape4 = new QFrame(this);
    Shape4->setObjectName(QStringLiteral("Shape4"));
    Shape4->setGeometry(385, 64, 4, 425);
    QPalette palette = Shape4->palette();
    palette.setColor(QPalette::Window, QColor(0x80, 0x00, 0x00));
    Shape4->setPalette(palette);
    Shape4->setAutoFillBackground(true);
    Shape4->hide();

    re_title = new QTextEdit(this);
    re_title->setObjectName(QStringLiteral("re_title"));
    re_title->setGeometry(40, 72, 337, 289);
    re_title->setFrameStyle(QFrame::Panel | QFrame::Raised);
    re_title->setAcceptRichText(false);
    re_title->setEnabled(false);
    // Disabled only to take no input: the about text keeps its normal colours.
    QPalette aboutPalette = re_title->palette();
    for (const auto role : {QPalette::Text, QPalette::WindowText, QPalette::Base})
        aboutPalette.setColor(QPalette::Disabled, role, aboutPalette.color(QPalette::Active, role));
    re_title->setPalette(aboutPalette);
    re_title->hide();
}

void Tfrm_BF_IDE::Label3MouseEnter()
{
    TitleSizes sizes;
    sizes.clientWidth = width();
    sizes.clientHeight = height();
    sizes.headerHeight = Panel3->height();
    sizes.pictureWidth = Image1->width();
    sizes.pictureHeight = Image1->height();
    sizes.aboutWidth = re_title->width();
    sizes.aboutTop = re_title->y();
    sizes.aboutHeight = re_title->height();
    sizes.barWidth = Shape4->width();
    const TitlePlacement place = placeTitleView(sizes);
    re_title->move(place.aboutLeft, re_title->y());
    Shape4->setGeometry(place.barLeft, place.barTop, Shape4->width(), place.barHeight);
    Image1->move(place.pictureLeft, place.pictureTop);
    Panel1->hide();
    Image1->show();
    Shape4->show();
    re_title->show();
}

void Tfrm_BF_IDE::Label3MouseLeave()
{
    Image1->hide();
    re_title->hide();
    Shape4->hide();
    Panel1->show();
}
