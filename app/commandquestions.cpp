#include "commandquestions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

void fillKeyChoices(QComboBox *box, int key)
{
    box->addItem(QStringLiteral("keine"), 0);
    for (int k = 1; k <= SavedCommand::Keys; ++k)
        box->addItem(keyName(k), k);
    box->setCurrentIndex(key);
}

void fillTerminatorChoices(QComboBox *box, TerminatorChoice choice)
{
    for (int t = int(TerminatorChoice::Window); t <= int(TerminatorChoice::LfCr); ++t)
        box->addItem(terminatorCaption(TerminatorChoice(t)), t);
    box->setCurrentIndex(int(choice));
}

namespace
{
QDialogButtonBox *okCancel(QDialog *dialog)
{
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Abbrechen"));
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

// The table of the replies: one rule a row.
enum ReplyColumn { On, Pattern, Regex, Reply, Terminator, Once, Columns };

void addRuleRow(QTableWidget *table, const ReplyRule &rule)
{
    const int row = table->rowCount();
    table->insertRow(row);
    auto check = [&](int column, bool on) {
        auto *box = new QCheckBox(table);
        box->setChecked(on);
        table->setCellWidget(row, column, box);
    };
    check(On, rule.enabled);
    table->setItem(row, Pattern, new QTableWidgetItem(rule.pattern));
    check(Regex, rule.regex);
    table->setItem(row, Reply, new QTableWidgetItem(rule.reply));
    auto *terminator = new QComboBox(table);
    fillTerminatorChoices(terminator, rule.terminator);
    table->setCellWidget(row, Terminator, terminator);
    check(Once, rule.once);
}

ReplyRule ruleOfRow(QTableWidget *table, int row)
{
    auto checked = [&](int column) {
        return static_cast<QCheckBox *>(table->cellWidget(row, column))->isChecked();
    };
    ReplyRule rule;
    rule.enabled = checked(On);
    rule.pattern = table->item(row, Pattern)->text();
    rule.regex = checked(Regex);
    rule.reply = table->item(row, Reply)->text();
    rule.terminator = TerminatorChoice(
        static_cast<QComboBox *>(table->cellWidget(row, Terminator))->currentData().toInt());
    rule.once = checked(Once);
    return rule;
}
} // namespace

std::optional<SavedCommand> QtCommandQuestions::askSave(QWidget *parent,
                                                        const SavedCommand &proposal)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Als Befehl speichern"));
    auto *form = new QFormLayout(&dialog);
    auto *name = new QLineEdit(proposal.name, &dialog);
    name->selectAll();
    auto *key = new QComboBox(&dialog);
    fillKeyChoices(key, proposal.key);
    auto *terminator = new QComboBox(&dialog);
    fillTerminatorChoices(terminator, proposal.terminator);
    form->addRow(QStringLiteral("&Name:"), name);
    form->addRow(QStringLiteral("&Taste:"), key);
    form->addRow(QStringLiteral("&Abschlusszeichen:"), terminator);
    form->addRow(okCancel(&dialog));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    SavedCommand command = proposal;
    command.name = name->text();
    command.key = key->currentData().toInt();
    command.terminator = TerminatorChoice(terminator->currentData().toInt());
    return command;
}

std::optional<CommandQuestions::Replies> QtCommandQuestions::askReplies(QWidget *parent,
                                                                        const Replies &replies)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Automatische Antworten"));
    dialog.resize(760, 360);
    auto *layout = new QVBoxLayout(&dialog);
    auto *on = new QCheckBox(QStringLiteral("Automatische Antworten &eingeschaltet"), &dialog);
    on->setChecked(replies.on);
    layout->addWidget(on);
    auto *table = new QTableWidget(0, Columns, &dialog);
    table->setHorizontalHeaderLabels({QStringLiteral("An"), QStringLiteral("Wenn empfangen"),
                                      QStringLiteral("Regulärer Ausdruck"),
                                      QStringLiteral("Senden"), QStringLiteral("Abschlusszeichen"),
                                      QStringLiteral("Nur einmal")});
    table->horizontalHeader()->setSectionResizeMode(Pattern, QHeaderView::Stretch);
    table->horizontalHeader()->setSectionResizeMode(Reply, QHeaderView::Stretch);
    for (const ReplyRule &rule : replies.rules)
        addRuleRow(table, rule);
    layout->addWidget(table);
    auto *row = new QHBoxLayout;
    auto *add = new QPushButton(QStringLiteral("Regel &hinzufügen"), &dialog);
    auto *remove = new QPushButton(QStringLiteral("Regel &entfernen"), &dialog);
    QObject::connect(add, &QPushButton::clicked, table, [table] {
        addRuleRow(table, {});
        table->setCurrentCell(table->rowCount() - 1, Pattern);
        table->editItem(table->item(table->rowCount() - 1, Pattern));
    });
    QObject::connect(remove, &QPushButton::clicked, table, [table] {
        if (table->currentRow() >= 0)
            table->removeRow(table->currentRow());
    });
    row->addWidget(add);
    row->addWidget(remove);
    row->addStretch();
    layout->addLayout(row);
    layout->addWidget(okCancel(&dialog));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    Replies taken{{}, on->isChecked()};
    for (int r = 0; r < table->rowCount(); ++r)
        taken.rules.append(ruleOfRow(table, r));
    return taken;
}

bool QtCommandQuestions::askYes(QWidget *parent, const QString &question)
{
    return QMessageBox::question(parent, QStringLiteral("Befehle"), question) == QMessageBox::Yes;
}

QString QtCommandQuestions::askFile(QWidget *parent, bool forExport)
{
    const QString filter = QStringLiteral("Befehlsdateien (*.json);;Alle Dateien (*)");
    if (forExport)
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Befehle exportieren"),
                                            QStringLiteral("befehle.json"), filter);
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Befehle importieren"), {}, filter);
}

void QtCommandQuestions::tell(QWidget *parent, const QString &message)
{
    QMessageBox::warning(parent, QStringLiteral("Befehle"), message);
}
