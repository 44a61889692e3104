#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include <memory>
#include <stdexcept>

#include "app/MessageBox.h"
#include "app/ScopedDisable.h"
#include "app/StandardErrorBox.h"
#include "app/Unit1.h"
#include "common/StrToInt.h"
#include "support/BoxAnswerer.h"

class MessageBoxTest : public QObject {
    Q_OBJECT

private slots:
    void styleWordChoosesTheIcon_data() {
        QTest::addColumn<unsigned>("style");
        QTest::addColumn<int>("icon");
        QTest::newRow("0: no icon") << MessageBoxStyle::Ok << int(QMessageBox::NoIcon);
        QTest::newRow("16: stop icon") << MessageBoxStyle::IconError << int(QMessageBox::Critical);
    }
    void styleWordChoosesTheIcon() {
        QFETCH(unsigned, style);
        QFETCH(int, icon);
        std::unique_ptr<QMessageBox> box(
            CreateMessageBox(QStringLiteral("IP is empty !!!"), QStringLiteral("Error"), style));
        QCOMPARE(int(box->icon()), icon);
        QCOMPARE(box->text(), QStringLiteral("IP is empty !!!"));
        QCOMPARE(box->windowTitle(), QStringLiteral("Error"));
        QCOMPARE(box->windowModality(), Qt::ApplicationModal);
        QCOMPARE(box->buttons().size(), 1);
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void textIsShownLiterally() {
        // Texts may carry what the operator typed: never read them as markup.
        std::unique_ptr<QMessageBox> box(
            CreateMessageBox(QStringLiteral("'<b>1</b>' x"), QString(), MessageBoxStyle::Ok));
        QCOMPARE(box->textFormat(), Qt::PlainText);
    }

    void realBoxWaitsForOkAndGivesTheFocusBack() {
        TForm1 form;
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.Edit4->setFocus();
        QTRY_VERIFY(form.Edit4->hasFocus());

        BoxAnswerer answerer;
        ShowMessageBox(QStringLiteral("Success"), QStringLiteral("OK"), MessageBoxStyle::Ok);
        QCOMPARE(answerer.texts(), QStringList{QStringLiteral("Success")});
        QVERIFY(answerer.seen().front().modal);
        QVERIFY(answerer.seen().front().box.isNull());  // closed and deleted once it returned
        QTRY_VERIFY(form.Edit4->hasFocus());
    }

    void recordersNestAndStopRecordingWhenGone() {
        MessageBoxRecorder outer;
        {
            MessageBoxRecorder inner;
            ShowMessageBox(QStringLiteral("Not response !!!"), QStringLiteral("Fail"),
                           MessageBoxStyle::IconError);
            QCOMPARE(inner.boxes().size(), std::size_t{1});
            QCOMPARE(inner.boxes()[0].text, QStringLiteral("Not response !!!"));
            QCOMPARE(inner.boxes()[0].title, QStringLiteral("Fail"));
            QCOMPARE(inner.boxes()[0].style, MessageBoxStyle::IconError);
        }
        QVERIFY(outer.boxes().empty());
        ShowMessageBox(QStringLiteral("Can't find any Device !!!"), QString(), MessageBoxStyle::Ok);
        QCOMPARE(outer.boxes().size(), std::size_t{1});
        QCOMPARE(outer.boxes()[0].title, QString());
        QCOMPARE(outer.boxes()[0].style, MessageBoxStyle::Ok);
    }

    void errorTextEndsWithAFullStopWhenItNeedsOne_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "abc"
                                << "abc.";
        QTest::newRow("quote inside") << "'x' is"
                                      << "'x' is.";
        QTest::newRow("closing quote") << "'abc'"
                                       << "'abc'";
        QTest::newRow("exclamation marks") << "Error !!!"
                                           << "Error !!!";
        QTest::newRow("already a full stop") << "done."
                                             << "done.";
        QTest::newRow("hyphen sorts before '.'") << "a-"
                                                 << "a-";
        QTest::newRow("slash sorts after '.'") << "a/"
                                               << "a/.";
        QTest::newRow("digit") << "a9"
                               << "a9.";
        QTest::newRow("blank") << "a "
                               << "a ";
        QTest::newRow("non-ASCII")
            << QString::fromUtf8("caf\xc3\xa9") << QString::fromUtf8("caf\xc3\xa9.");
        QTest::newRow("empty") << ""
                               << "";
    }
    void errorTextEndsWithAFullStopWhenItNeedsOne() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(StandardErrorText(message), shown);
    }

    void titleComesFromTheProgramFile_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::newRow("plain") << "/usr/bin/velquint-tool"
                               << "velquint-tool";
        QTest::newRow("first letter kept") << "/opt/Velquint-Tool"
                                           << "Velquint-tool";
        QTest::newRow("all capitals") << "/opt/VELQUINT"
                                      << "Velquint";
        QTest::newRow("cut at the first full stop") << "/x/Velquint.Tool.exe"
                                                    << "Velquint";
        QTest::newRow("full stop in a folder") << "/a.b/Tool"
                                               << "Tool";
        QTest::newRow("leading full stop") << "/x/.tool"
                                           << "";
        QTest::newRow("no folder") << "TOOL.exe"
                                   << "Tool";
        QTest::newRow("non-ASCII")
            << QString::fromUtf8("/x/\xc3\x89T\xc3\x89") << QString::fromUtf8("\xc3\x89t\xc3\xa9");
    }
    void titleComesFromTheProgramFile() {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QCOMPARE(ApplicationTitleFromPath(path), title);
    }

    void conversionErrorInAHandlerShowsTheStandardBox() {
        MessageBoxRecorder recorder;
        TForm1 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // A handler of the kind every button has: it disables its button and
        // converts a field, here the port. It stands in for the window's own
        // "Broadcast Setup" handler, which may send setup traffic and so runs
        // only in the lab.
        QVERIFY(disconnect(form.Button2, &QPushButton::clicked, nullptr, nullptr));
        form.SetupExchange = [](const SetupRequest&) -> int {
            qFatal("a setup was sent outside the lab");
        };
        connect(form.Button2, &QPushButton::clicked, &form, [&form] {
            RunGuarded([&form] {
                ScopedDisable busy(form.Button2);
                StrToInt(form.Edit4->text().toStdString());
            });
        });
        form.Edit4->setText(QStringLiteral("abc"));
        QTest::mouseClick(form.Button2, Qt::LeftButton);

        QCOMPARE(recorder.boxes().size(), std::size_t{1});
        QCOMPARE(recorder.boxes()[0].text, QStringLiteral("'abc' is not a valid integer value."));
        QCOMPARE(recorder.boxes()[0].title, QStringLiteral("velquint_ui_tests"));
        QCOMPARE(recorder.boxes()[0].style, MessageBoxStyle::IconError);

        // The window stays usable: the button is back and works again.
        QVERIFY(form.Button2->isEnabled());
        QVERIFY(form.isVisible());
        form.Edit4->setText(QStringLiteral("70000 "));
        QTest::mouseClick(form.Button2, Qt::LeftButton);
        QCOMPARE(recorder.boxes().size(), std::size_t{2});
        QCOMPARE(recorder.boxes()[1].text,
                 QStringLiteral("'70000 ' is not a valid integer value."));
        form.Edit4->setText(QStringLiteral("502"));
        QTest::mouseClick(form.Button2, Qt::LeftButton);
        QCOMPARE(recorder.boxes().size(), std::size_t{2});
    }

    void guardCatchesEverythingThrown() {
        MessageBoxRecorder recorder;
        RunGuarded([] { throw std::runtime_error("Out of luck!!!"); });
        RunGuarded([] { throw 42; });
        bool ran = false;
        RunGuarded([&ran] { ran = true; });
        QVERIFY(ran);
        QCOMPARE(recorder.boxes().size(), std::size_t{2});
        QCOMPARE(recorder.boxes()[0].text, QStringLiteral("Out of luck!!!"));
        QCOMPARE(recorder.boxes()[1].text, QStringLiteral("Unknown error."));
        QCOMPARE(recorder.boxes()[1].style, MessageBoxStyle::IconError);
    }

    void scopedDisableSurvivesItsControl() {
        auto* button = new QPushButton;
        {
            ScopedDisable busy(button);
            QVERIFY(!button->isEnabled());
            delete button;  // must not be touched again on the way out
        }
        QPushButton kept;
        { ScopedDisable busy(&kept); }
        QVERIFY(kept.isEnabled());
    }
};

QTEST_MAIN(MessageBoxTest)
#include "message_box_test.moc"
