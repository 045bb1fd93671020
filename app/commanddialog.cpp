// "Neu…" and "Bearbeiten…" of the commands window: one command whole, its
// text in a command box of its own (control characters and bytes in hex as
// in the main window's), and the steps of a sequence in a table.

#include "commandbox.h"
#include "commandquestions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

namespace
{
enum StepColumn { Kind, Text, Terminator, Ms, Regex, GoOn, Columns };

template <class W> W *cell(QTableWidget *table, int row, int column)
{
    return static_cast<W *>(table->cellWidget(row, column));
}

void addStepRow(QTableWidget *table, const SequenceStep &step)
{
    const int row = table->rowCount();
    table->insertRow(row);
    auto *kind = new QComboBox(table);
    kind->addItems(
        {QStringLiteral("Senden"), QStringLiteral("Warten"), QStringLiteral("Warten auf")});
    kind->setCurrentIndex(int(step.kind));
    table->setCellWidget(row, Kind, kind);
    table->setItem(row, Text, new QTableWidgetItem(step.text));
    auto *terminator = new QComboBox(table);
    fillTerminatorChoices(terminator, step.terminator);
    table->setCellWidget(row, Terminator, terminator);
    auto *ms = new QSpinBox(table);
    ms->setRange(0, 86400000);
    ms->setSuffix(QStringLiteral(" ms"));
    ms->setValue(step.ms);
    table->setCellWidget(row, Ms, ms);
    auto *regex = new QCheckBox(table);
    regex->setChecked(step.regex);
    table->setCellWidget(row, Regex, regex);
    auto *goOn = new QComboBox(table);
    goOn->addItems({QStringLiteral("anhalten"), QStringLiteral("weiter")});
    goOn->setCurrentIndex(step.goOn ? 1 : 0);
    table->setCellWidget(row, GoOn, goOn);
}

SequenceStep stepOfRow(QTableWidget *table, int row)
{
    SequenceStep step;
    step.kind = SequenceStep::Kind(cell<QComboBox>(table, row, Kind)->currentIndex());
    step.text = table->item(row, Text)->text();
    step.terminator =
        TerminatorChoice(cell<QComboBox>(table, row, Terminator)->currentData().toInt());
    step.ms = cell<QSpinBox>(table, row, Ms)->value();
    step.regex = cell<QCheckBox>(table, row, Regex)->isChecked();
    step.goOn = cell<QComboBox>(table, row, GoOn)->currentIndex() == 1;
    return step;
}
} // namespace

std::optional<SavedCommand>
QtCommandQuestions::askEdit(QWidget *parent, const SavedCommand &command, const QString &title)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.resize(820, 480);
    auto *form = new QFormLayout(&dialog);
    auto *name = new QLineEdit(command.name, &dialog);
    auto *text = new CommandBox(&dialog);
    text->setText(command.text);
    text->setFixedHeight(text->fontMetrics().lineSpacing() * 3 + 12);
    auto *key = new QComboBox(&dialog);
    fillKeyChoices(key, command.key);
    auto *terminator = new QComboBox(&dialog);
    fillTerminatorChoices(terminator, command.terminator);
    auto *period = new QSpinBox(&dialog);
    period->setRange(0, 86400000);
    period->setSuffix(QStringLiteral(" ms"));
    period->setSpecialValueText(QStringLiteral("nicht wiederholen"));
    period->setValue(command.periodMs);
    auto *steps = new QTableWidget(0, Columns, &dialog);
    steps->setHorizontalHeaderLabels({QStringLiteral("Schritt"), QStringLiteral("Text"),
                                      QStringLiteral("Abschlusszeichen"), QStringLiteral("Zeit"),
                                      QStringLiteral("Regulärer Ausdruck"),
                                      QStringLiteral("Bei Zeitablauf")});
    steps->horizontalHeader()->setSectionResizeMode(Text, QHeaderView::Stretch);
    for (const SequenceStep &step : command.steps)
        addStepRow(steps, step);
    auto *add = new QPushButton(QStringLiteral("Schritt &hinzufügen"), &dialog);
    auto *remove = new QPushButton(QStringLiteral("Schritt &entfernen"), &dialog);
    QObject::connect(add, &QPushButton::clicked, steps, [steps] {
        addStepRow(steps, {});
        steps->setCurrentCell(steps->rowCount() - 1, Text);
    });
    QObject::connect(remove, &QPushButton::clicked, steps, [steps] {
        if (steps->currentRow() >= 0)
            steps->removeRow(steps->currentRow());
    });
    auto *stepButtons = new QHBoxLayout;
    stepButtons->addWidget(add);
    stepButtons->addWidget(remove);
    stepButtons->addStretch();
    auto *times = new QSpinBox(&dialog);
    times->setRange(1, 1000000);
    times->setValue(command.times);

    form->addRow(QStringLiteral("&Name:"), name);
    form->addRow(QStringLiteral("Te&xt:"), text);
    form->addRow(QStringLiteral("&Taste:"), key);
    form->addRow(QStringLiteral("&Abschlusszeichen:"), terminator);
    form->addRow(QStringLiteral("&Wiederholen alle:"), period);
    form->addRow(QStringLiteral("&Folge (statt des Textes):"), steps);
    form->addRow(QString(), stepButtons);
    form->addRow(QStringLiteral("&Durchläufe der Folge:"), times);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Abbrechen"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    name->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    SavedCommand edited;
    edited.name = name->text();
    edited.text = text->text();
    edited.key = key->currentData().toInt();
    edited.terminator = TerminatorChoice(terminator->currentData().toInt());
    edited.periodMs = period->value();
    for (int r = 0; r < steps->rowCount(); ++r)
        edited.steps.append(stepOfRow(steps, r));
    edited.times = times->value();
    return edited;
}
