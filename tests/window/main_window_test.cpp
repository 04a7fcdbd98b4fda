// SPDX-License-Identifier: MIT
#include "main_window.h"

#include "sendpath/recording_serial_control.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <memory>

using korvantel::Form1;
using korvantel::PropertyWrite;
using korvantel::SerialFault;
using Kind = korvantel::MessagePresenter::Kind;
using korvantel::testing::RecordingSerialControl;

namespace {

struct ShownMessage
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    Qt::WindowModality modality = Qt::NonModal;
    Qt::TextFormat format = Qt::AutoText;
    bool wholeOnScreen = false;  // the box within the screen, none of its text cut off
};

// Answers every message box that appears, as the operator would, and
// remembers what each one showed.
class MessageBoxAnswerer : public QObject
{
public:
    MessageBoxAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, &MessageBoxAnswerer::answer);
        m_timer.start(10);
    }

    QList<ShownMessage> shown;

private:
    void answer()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        const bool whole = box->screen()->availableGeometry().contains(box->frameGeometry())
                           && label->minimumSizeHint().width() <= label->width()
                           && label->heightForWidth(label->width()) <= label->height();
        ShownMessage message{box->windowTitle(), box->text(), box->icon(), {}, box->windowModality(),
                             box->textFormat(), whole};
        for (QAbstractButton *button : box->buttons())
            message.buttons.append(button->text());
        shown.append(message);
        box->buttons().first()->click();
    }

    QTimer m_timer;
};

}  // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_log.clear();
        m_form = std::make_unique<Form1>(std::make_unique<RecordingSerialControl>(m_log));
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }

    void cleanup() { m_form.reset(); }

    void windowHasItsTitleAndFixedClientSize()
    {
        QCOMPARE(m_form->windowTitle(), QStringLiteral("KORVANTEL DEMO"));
        QCOMPARE(m_form->size(), QSize(326, 208));
        QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
    }

    void controlsStandWhereTheLayoutPutsThem_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("Label1") << "KORVANTEL" << QRect(40, 16, 265, 41);
        QTest::newRow("Label2") << "กลุ่ม RS-485" << QRect(16, 72, 65, 17);
        QTest::newRow("Label3") << "หมายเลขเครื่อง" << QRect(104, 72, 81, 17);
        QTest::newRow("Label4") << "จำนวนสินค้า" << QRect(216, 72, 81, 17);
        QTest::newRow("Text1") << "1" << QRect(16, 96, 65, 25);
        QTest::newRow("Text2") << "1" << QRect(96, 96, 81, 25);
        QTest::newRow("Text3") << "255" << QRect(208, 96, 81, 25);
        QTest::newRow("Command1") << "ตกลง" << QRect(64, 152, 73, 33);
        QTest::newRow("Command2") << "ยกเลิก" << QRect(176, 152, 73, 33);
    }

    void controlsStandWhereTheLayoutPutsThem()
    {
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        QWidget *control = m_form->findChild<QWidget *>(QTest::currentDataTag());
        QVERIFY(control);
        QCOMPARE(control->geometry(), geometry);
        QCOMPARE(shownText(control), text);
    }

    void everyCaptionFitsItsBoxInAThaiFont_data() { controlsStandWhereTheLayoutPutsThem_data(); }

    void everyCaptionFitsItsBoxInAThaiFont()
    {
        QFETCH(QString, text);
        QWidget *control = m_form->findChild<QWidget *>(QTest::currentDataTag());
        QVERIFY(control);
        const QFontMetrics metrics(control->font());
        const QRect room = roomForText(control);
        QVERIFY2(metrics.horizontalAdvance(text) <= room.width(), qPrintable(QString::number(metrics.horizontalAdvance(text))));
        // The ink, Thai marks above and below included, where a vertically
        // centred line puts it.
        const int lineTop = room.top() + (room.height() - metrics.height()) / 2;
        const QRect ink = metrics.tightBoundingRect(text).translated(room.left(), lineTop + metrics.ascent());
        QVERIFY2(room.contains(ink), qPrintable(QStringLiteral("ink %1,%2 %3x%4").arg(ink.x()).arg(ink.y()).arg(ink.width()).arg(ink.height())));
        QVERIFY2(metrics.inFont(QChar(0x0E01)), "the font itself has Thai glyphs");
    }

    // The whole line fits, not only the ink of today's captions.
    void theDefaultFontsLinesFitTheSmallestBox()
    {
        auto *caption = m_form->findChild<QLabel *>("Label2");
        QVERIFY(QFontMetrics(caption->font()).height() <= caption->height());
    }

    void everyControlIsAnnouncedByItsCaption_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("buddyOf");
        QTest::newRow("Label1") << "KORVANTEL" << "";
        QTest::newRow("Text1") << "กลุ่ม RS-485" << "Label2";
        QTest::newRow("Text2") << "หมายเลขเครื่อง" << "Label3";
        QTest::newRow("Text3") << "จำนวนสินค้า" << "Label4";
        QTest::newRow("Command1") << "ตกลง" << "";
        QTest::newRow("Command2") << "ยกเลิก" << "";
    }

    void everyControlIsAnnouncedByItsCaption()
    {
        QFETCH(QString, name);
        QFETCH(QString, buddyOf);
        QWidget *control = m_form->findChild<QWidget *>(QTest::currentDataTag());
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
        QVERIFY(accessible);
        QCOMPARE(accessible->text(QAccessible::Name), name);
        if (!buddyOf.isEmpty())
            QCOMPARE(m_form->findChild<QLabel *>(buddyOf)->buddy(), control);
    }

    // Run again with QT_SCALE_FACTOR=2: every control scales with the window.
    void everyControlIsDrawnAtTheScreensPixelRatio()
    {
        const qreal ratio = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                                ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                                : 1.0;
        QCOMPARE(m_form->devicePixelRatioF(), ratio);
        QCOMPARE(m_form->grab().size(), QSize(326, 208) * ratio);
        for (QWidget *control : m_form->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            QCOMPARE(control->grab().size(), control->size() * ratio);
    }

    void titleAsksForItsFontFirstAndIsDarkRed()
    {
        auto *title = m_form->findChild<QLabel *>("Label1");
        QCOMPARE(title->font().families().first(), QStringLiteral("MS Sans Serif"));
        QVERIFY(title->font().bold());
        QCOMPARE(title->font().pixelSize(), 32);
        QCOMPARE(title->palette().color(QPalette::WindowText), QColor(192, 0, 0));
        QVERIFY(QFontMetrics(title->font()).horizontalAdvance(title->text()) <= title->width());
    }

    void focusStartsInText1AndTabWalksTheFieldsThenTheButtons()
    {
        QStringList visited{QApplication::focusWidget()->objectName()};
        for (int step = 0; step < 5; ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.append(QApplication::focusWidget()->objectName());
        }
        QCOMPARE(visited, QStringList({"Text1", "Text2", "Text3", "Command1", "Command2", "Text1"}));
    }

    void enterAndEscapePressNoButton()
    {
        MessageBoxAnswerer answerer;
        for (const char *field : {"Text1", "Text2", "Text3"}) {
            auto *edit = m_form->findChild<QLineEdit *>(field);
            edit->setFocus();
            QTest::keyClick(edit, Qt::Key_Return);
            QTest::keyClick(edit, Qt::Key_Enter);
            QTest::keyClick(edit, Qt::Key_Escape);
        }
        QTest::qWait(50);
        QVERIFY(m_log.isEmpty());
        QVERIFY(answerer.shown.isEmpty());
        QVERIFY(m_form->isVisible());
    }

    void okSendsTheInitialFrameAndConfirmsBeforeClosing()
    {
        MessageBoxAnswerer answerer;
        QTest::mouseClick(m_form->findChild<QPushButton *>("Command1"), Qt::LeftButton);
        QCOMPARE(m_log, QStringList({"CommPort=1", "Settings=9600,n,8,1", "InputLen=0", "PortOpen=True", "Output=FD",
                                     "Output=00", "Output=01", "Output=01", "Output=01", "Output=00", "Output=FF",
                                     "Output=FE", "Drain", "PortOpen=False"}));
        QCOMPARE(answerer.shown.size(), 1);
        const ShownMessage &confirmation = answerer.shown.first();
        QCOMPARE(confirmation.title, QStringLiteral("KORVANTEL"));
        QCOMPARE(confirmation.text, QStringLiteral("ส่งข้อมูลเรียบร้อยแล้ว"));
        QCOMPARE(confirmation.icon, QMessageBox::NoIcon);
        QCOMPARE(confirmation.buttons, QStringList({"ตกลง"}));
        QCOMPARE(confirmation.modality, Qt::ApplicationModal);
        QCOMPARE(m_form->findChild<QLineEdit *>("Text3")->text(), QStringLiteral("255"));
    }

    // A name from outside is never markup, and one too long for a line is
    // broken rather than widening the box past the screen, its button with it.
    void aMessageWithALongNameFitsTheScreenAsPlainText()
    {
        PropertyWrite refused = PropertyWrite::failed(SerialFault::UnreadableLock, "อ่านหมายเลขโปรเซสจากไฟล์ล็อกไม่ได้");
        refused.device = "/dev/korvantel-port1";
        refused.lockFile = "/var/lock/LCK.._tmp_" + QString(240, u'a');
        MessageBoxAnswerer answerer;
        korvantel::MessageBoxPresenter(m_form.get()).showMessage(Kind::Error, "KORVANTEL", messageForFault(refused));
        QCOMPARE(answerer.shown.size(), 1);
        ShownMessage &shown = answerer.shown.first();
        QCOMPARE(shown.format, Qt::PlainText);
        QVERIFY(shown.wholeOnScreen);
        QVERIFY(shown.text.remove(u'\n').contains(refused.lockFile));
    }

    void aBadFieldShowsAThaiErrorAndWritesNothing()
    {
        MessageBoxAnswerer answerer;
        auto *unit = m_form->findChild<QLineEdit *>("Text2");
        unit->selectAll();
        QTest::keyClicks(unit, "x");
        QTest::mouseClick(m_form->findChild<QPushButton *>("Command1"), Qt::LeftButton);
        QVERIFY(m_log.isEmpty());
        QCOMPARE(answerer.shown.size(), 1);
        QCOMPARE(answerer.shown.first().title, QStringLiteral("KORVANTEL"));
        QVERIFY(answerer.shown.first().text.contains(QStringLiteral("หมายเลขเครื่อง")));
        QCOMPARE(answerer.shown.first().buttons, QStringList({"ตกลง"}));
        QCOMPARE(unit->text(), QStringLiteral("x"));
        QVERIFY(m_form->isVisible());
    }

    // Last: it ends the application's event loop.
    void cancelClosesTheWindowAndEndsTheApplication()
    {
        QTimer::singleShot(0, m_form.get(), [this] {
            QTest::mouseClick(m_form->findChild<QPushButton *>("Command2"), Qt::LeftButton);
        });
        QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!m_form->isVisible());
    }

private:
    static QString shownText(QWidget *control)
    {
        if (auto *label = qobject_cast<QLabel *>(control))
            return label->text();
        if (auto *edit = qobject_cast<QLineEdit *>(control))
            return edit->text();
        return qobject_cast<QAbstractButton *>(control)->text();
    }

    // Where a control can draw its text: inside a field's or button's frame.
    static QRect roomForText(QWidget *control)
    {
        if (qobject_cast<QLabel *>(control))
            return control->contentsRect();
        const int frame = control->style()->pixelMetric(qobject_cast<QLineEdit *>(control)
                                                            ? QStyle::PM_DefaultFrameWidth
                                                            : QStyle::PM_ButtonMargin,
                                                        nullptr, control);
        return control->rect().adjusted(frame, frame, -frame, -frame);
    }

    QStringList m_log;
    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
