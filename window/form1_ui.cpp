// SPDX-License-Identifier: MIT
#include "form1_ui.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace korvantel {

namespace {

// Sizes are pixels at 15 twips to a pixel, the layout's own unit. The default
// font is the largest Thai sans whose lines fit the 17-pixel caption boxes
// with the marks above and below; the title's 24 points are 32 such pixels.
constexpr QSize kClientSize{326, 208};
constexpr int kDefaultFontPixels = 10;
constexpr int kTitleFontPixels = 32;
const QStringList kDefaultFamilies{QStringLiteral("Loma"), QStringLiteral("Waree"), QStringLiteral("Sawasdee")};
const QStringList kTitleFamilies{QStringLiteral("MS Sans Serif"), QStringLiteral("Loma"), QStringLiteral("Waree")};
constexpr QColor kTitleColor{192, 0, 0};

template <typename Control>
Control *place(QWidget *parent, const char *name, const QString &text, const QRect &geometry)
{
    auto *control = new Control(text, parent);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(geometry);
    return control;
}

QPushButton *placeButton(QWidget *parent, const char *name, const QString &caption, const QRect &geometry)
{
    auto *button = place<QPushButton>(parent, name, caption, geometry);
    // Neither button answers Enter or Escape.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace

void Form1Ui::setupUi(QWidget *form)
{
    form->setObjectName(QStringLiteral("Form1"));
    form->setWindowTitle(QStringLiteral("KORVANTEL DEMO"));
    form->setFixedSize(kClientSize);
    createControls(form);
    setFonts(form);
    chainTabOrder();
    nameFieldsByTheirCaptions();
    Text1->setFocus();
}

void Form1Ui::createControls(QWidget *form)
{
    Label1 = place<QLabel>(form, "Label1", QStringLiteral("KORVANTEL"), {40, 16, 265, 41});
    Label2 = place<QLabel>(form, "Label2", QStringLiteral("กลุ่ม RS-485"), {16, 72, 65, 17});
    Label3 = place<QLabel>(form, "Label3", QStringLiteral("หมายเลขเครื่อง"), {104, 72, 81, 17});
    Label4 = place<QLabel>(form, "Label4", QStringLiteral("จำนวนสินค้า"), {216, 72, 81, 17});
    Text1 = place<QLineEdit>(form, "Text1", QStringLiteral("1"), {16, 96, 65, 25});
    Text2 = place<QLineEdit>(form, "Text2", QStringLiteral("1"), {96, 96, 81, 25});
    Text3 = place<QLineEdit>(form, "Text3", QStringLiteral("255"), {208, 96, 81, 25});
    Command1 = placeButton(form, "Command1", QStringLiteral("ตกลง"), {64, 152, 73, 33});
    Command2 = placeButton(form, "Command2", QStringLiteral("ยกเลิก"), {176, 152, 73, 33});
}

void Form1Ui::setFonts(QWidget *form)
{
    QFont defaultFont = form->font();
    defaultFont.setFamilies(kDefaultFamilies);
    defaultFont.setPixelSize(kDefaultFontPixels);
    form->setFont(defaultFont);

    QFont title = defaultFont;
    title.setFamilies(kTitleFamilies);
    title.setPixelSize(kTitleFontPixels);
    title.setBold(true);
    Label1->setFont(title);
    QPalette palette = Label1->palette();
    palette.setColor(QPalette::WindowText, kTitleColor);
    Label1->setPalette(palette);
}

// A screen reader announces each field by the caption above it.
void Form1Ui::nameFieldsByTheirCaptions()
{
    for (auto [caption, field] : {std::pair{Label2, Text1}, std::pair{Label3, Text2}, std::pair{Label4, Text3}}) {
        caption->setBuddy(field);
        field->setAccessibleName(caption->text());
    }
}

void Form1Ui::chainTabOrder()
{
    QWidget::setTabOrder(Text1, Text2);
    QWidget::setTabOrder(Text2, Text3);
    QWidget::setTabOrder(Text3, Command1);
    QWidget::setTabOrder(Command1, Command2);
}

}  // namespace korvantel
