#include "ui/pages/ReadingPageWidgets.h"

#include "core/NumberText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>

namespace quillon {

namespace {

QLineEdit *makeReadOnlyField(const QString &name, const QFont &font, const QString &widest,
                             QWidget *parent)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setReadOnly(true);
    field->setFont(font);
    field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    field->setFocusPolicy(Qt::ClickFocus);
    field->setFixedWidth(QFontMetrics(font).horizontalAdvance(widest) + 16);
    return field;
}

QComboBox *makeNumberList(const char *name, int first, int last, QWidget *parent)
{
    auto *list = new QComboBox(parent);
    list->setObjectName(QLatin1String(name));
    for (int n = first; n <= last; ++n)
        list->addItem(QString::number(n));
    list->setMaxVisibleItems(12);
    return list;
}

QCheckBox *makeCheckBox(const char *text, const char *name, QWidget *parent)
{
    auto *box = new QCheckBox(QLatin1String(text), parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

} // namespace

QLineEdit *makeResultField(const QString &name, const QFont &font, QWidget *parent)
{
    return makeReadOnlyField(name, font, QStringLiteral(" 300000.000"), parent);
}

QLineEdit *makeReadingField(const QString &name, QWidget *parent)
{
    return makeReadOnlyField(name, parent->font(), QStringLiteral(" -120.000"), parent);
}

QLineEdit *makeHalfWidthField(const QString &name, QWidget *parent)
{
    return makeReadOnlyField(name, parent->font(), QStringLiteral("\u00b1 9.5e+09 K (95%)"),
                             parent);
}

QString halfWidthForField(const std::string &text)
{
    // "± <value> [unit] (95%)"; the value is the first number after the sign.
    const QString shown = QString::fromStdString(text);
    static const QRegularExpression form(QStringLiteral("^\u00b1 ([0-9.]+)( .*)$"));
    const QRegularExpressionMatch m = form.match(shown);
    if (!m.hasMatch())
        return shown;
    const double value = parseDecimal(m.captured(1).toStdString());
    if (!(value >= 1e6))
        return shown;
    char compact[32];
    // Two significant digits, as the half-width itself has them; the exponent in C locale.
    const int exponent = static_cast<int>(std::floor(std::log10(value)));
    double mantissa = value / std::pow(10.0, exponent);
    int e = exponent;
    if (std::round(mantissa * 10.0) >= 100.0) {
        mantissa /= 10.0;
        ++e;
    }
    std::snprintf(compact, sizeof compact, "e+%02d", e);
    return QStringLiteral("\u00b1 ") + QString::fromStdString(formatFixed(mantissa, 1)) +
           QLatin1String(compact) + m.captured(2);
}

void makeShownValue(QLineEdit *field)
{
    field->setReadOnly(true);
    field->setEnabled(true);
    field->setFocusPolicy(Qt::ClickFocus);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    field->setPalette(palette);
}

bool isNumberText(const QString &text)
{
    static const QRegularExpression number(
        QStringLiteral("^\\s*[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?(?![xX])"));
    return number.match(text).hasMatch();
}

void watchNumberField(QLineEdit *field, const QString &expected, bool emptyAllowed)
{
    field->setProperty("expectedNumber", expected);
    field->setProperty("emptyAllowed", emptyAllowed);
    const auto mark = [field] {
        const bool valid = numberFieldValid(field);
        field->setProperty("notANumber", !valid);
        const QString expectedText = field->property("expectedNumber").toString();
        field->setToolTip(valid ? expectedText
                                : QStringLiteral("Not a number: ") + expectedText);
        field->setStyleSheet(valid ? QString()
                                   : QStringLiteral("QLineEdit { border: 2px solid #d00000; }"));
    };
    QObject::connect(field, &QLineEdit::textChanged, field, mark);
    clearNumberMark(field); // marked from the first change on: a field not yet filled is not
}

void clearNumberMark(QLineEdit *field)
{
    field->setProperty("notANumber", false);
    field->setToolTip(field->property("expectedNumber").toString());
    field->setStyleSheet(QString());
}

bool numberFieldValid(const QLineEdit *field)
{
    const QString text = field->text();
    if (text.trimmed().isEmpty() && field->property("emptyAllowed").toBool())
        return true;
    return isNumberText(text);
}

QLabel *makeWarningLabel(const QString &name, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(QStringLiteral("color: #a04000;"));
    label->hide();
    return label;
}

void showWarnings(QLabel *label, const QString &text)
{
    label->setText(text);
    label->setVisible(!text.isEmpty());
}

QLabel *makeCaption(const QString &text, QWidget *buddy, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setBuddy(buddy);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

void selectListEntry(QComboBox *list, int index)
{
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

ReadingRow addReadingRow(QGridLayout *grid, int row, int reading, const QString &caption,
                         QWidget *parent)
{
    ReadingRow r;
    r.measure = new QPushButton(QStringLiteral("Measure"), parent);
    r.measure->setObjectName(QStringLiteral("measure%1").arg(reading));
    r.field = makeReadingField(QStringLiteral("reading%1").arg(reading), parent);
    r.caption = new QLabel(caption, parent);
    r.caption->setBuddy(r.measure);
    grid->addWidget(r.measure, row, 0);
    grid->addWidget(r.field, row, 1);
    grid->addWidget(r.caption, row, 2);
    return r;
}

AutomateControls makeAutomateGroup(bool withDutSwitch, QWidget *parent)
{
    AutomateControls c;
    c.group = new QGroupBox(QStringLiteral("Automate"), parent);
    c.group->setObjectName(QStringLiteral("automateGroup"));
    c.noiseGen = makeCheckBox("Noise Gen", "noiseGen", c.group);
    if (withDutSwitch)
        c.dutSwitch = makeCheckBox("DUT switch", "dutSwitch", c.group);
    c.dummyReads = makeNumberList("dummyReads", 0, kListedDummyReads - 1, c.group);
    c.repeat = makeCheckBox("Repeat", "repeat", c.group);

    auto *averaging = new QGroupBox(QStringLiteral("Averaging"), c.group);
    averaging->setObjectName(QStringLiteral("averagingGroup"));
    c.averageEnable = makeCheckBox("Enable", "averageEnable", averaging);
    c.averageCount = makeNumberList("averageCount", 1, kListedAverageCounts, averaging);
    auto *averagingGrid = new QGridLayout(averaging);
    averagingGrid->addWidget(c.averageEnable, 0, 0);
    averagingGrid->addWidget(c.averageCount, 0, 1);

    c.save = new QPushButton(QStringLiteral("Save as Defaut"), c.group);
    c.save->setObjectName(QStringLiteral("saveAsDefault"));

    auto *grid = new QGridLayout(c.group);
    int row = 0;
    grid->addWidget(c.noiseGen, row, 0);
    if (c.dutSwitch != nullptr)
        grid->addWidget(c.dutSwitch, row, 1);
    ++row;
    grid->addWidget(makeCaption(QStringLiteral("Dummy Reads"), c.dummyReads, c.group), row, 0);
    grid->addWidget(c.dummyReads, row++, 1);
    grid->addWidget(c.repeat, row++, 0, 1, 2);
    grid->addWidget(averaging, row++, 0, 1, 2);
    grid->addWidget(c.save, row, 0, 1, 2);
    return c;
}

} // namespace quillon
