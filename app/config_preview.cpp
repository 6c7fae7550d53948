#include "config_preview.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vk61 {

namespace {

enum PreviewColumn { ColSetting, ColEfis, ColFile };

QTableWidgetItem* readOnlyItem(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

QString settingName(const vk61::SettingEntry& entry) {
    return QString::fromLatin1(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
}

QString originText(const vk61::ConfigFile& file, const vk61::ConfigRecord* efis, const QString& source) {
    QString text = QDialog::tr("From %1, written %2 by %3 (EFIS %4, firmware %5).")
                       .arg(source, file.created.toLocalTime().toString(Qt::ISODate),
                            file.tool.isEmpty() ? QDialog::tr("an unknown tool") : file.tool,
                            file.efis.serial.isEmpty() ? QDialog::tr("unknown") : file.efis.serial,
                            file.efis.firmware.isEmpty() ? QDialog::tr("unknown") : file.efis.firmware);
    // Another memory layout may give the same index another meaning.
    if (efis && file.efis.memory_version && *file.efis.memory_version != efis->memory_version()) {
        text += QStringLiteral("\n") + QDialog::tr(
                                           "Warning: the file comes from memory version %1, this EFIS has "
                                           "memory version %2. Check every value before applying.")
                                           .arg(*file.efis.memory_version)
                                           .arg(efis->memory_version());
    }
    return text;
}

}  // namespace

std::optional<std::vector<const vk61::SettingEntry*>> previewConfiguration(QWidget* parent,
                                                                           const vk61::ConfigFile& file,
                                                                           const vk61::ConfigRecord* efis,
                                                                           const QString& source) {
    std::vector<const vk61::SettingEntry*> changed;
    if (efis) {
        changed = vk61::changed_settings(file, *efis);
    } else {
        for (const vk61::SettingEntry& entry : vk61::settings_catalogue()) changed.push_back(&entry);
    }

    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dialog_configuration_preview"));
    dialog.setWindowTitle(QDialog::tr("Configuration Preview"));
    auto* layout = new QVBoxLayout(&dialog);

    auto* origin = new QLabel(originText(file, efis, source));
    origin->setObjectName(QStringLiteral("label_configuration_origin"));
    origin->setWordWrap(true);
    layout->addWidget(origin);

    auto* table = new QTableWidget(static_cast<int>(changed.size()), 3);
    table->setObjectName(QStringLiteral("table_configuration_changes"));
    table->setHorizontalHeaderLabels({QDialog::tr("Setting"), QDialog::tr("On the EFIS"), QDialog::tr("In the file")});
    table->verticalHeader()->setVisible(false);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    for (int row = 0; row < table->rowCount(); ++row) {
        const vk61::SettingEntry& entry = *changed[static_cast<std::size_t>(row)];
        QTableWidgetItem* name = readOnlyItem(settingName(entry));
        if (efis) {
            name->setFlags(name->flags() | Qt::ItemIsUserCheckable);
            name->setCheckState(Qt::Checked);
        } else {
            name->setFlags(name->flags() & ~Qt::ItemIsUserCheckable);
        }
        table->setItem(row, ColSetting, name);
        table->setItem(row, ColEfis,
                       readOnlyItem(efis ? vk61::setting_display_text(entry, *efis) : QDialog::tr("(erased)")));
        table->setItem(row, ColFile, readOnlyItem(vk61::setting_display_text(entry, file.settings)));
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    QPushButton* apply = buttons->addButton(QDialog::tr("Apply"), QDialogButtonBox::AcceptRole);
    apply->setObjectName(QStringLiteral("pushButton_apply_configuration"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(720, 480);

    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    if (!efis) return changed;
    std::vector<const vk61::SettingEntry*> ticked;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, ColSetting)->checkState() == Qt::Checked)
            ticked.push_back(changed[static_cast<std::size_t>(row)]);
    }
    return ticked;
}

QString chooseBackup(QWidget* parent, const std::vector<vk61::BackupStore::Entry>& backups) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dialog_configuration_backups"));
    dialog.setWindowTitle(QDialog::tr("Configuration Backups"));
    auto* layout = new QVBoxLayout(&dialog);

    auto* table = new QTableWidget(static_cast<int>(backups.size()), 2);
    table->setObjectName(QStringLiteral("table_configuration_backups"));
    table->setHorizontalHeaderLabels({QDialog::tr("Date"), QDialog::tr("Reason")});
    table->verticalHeader()->setVisible(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int row = 0; row < table->rowCount(); ++row) {
        const vk61::BackupStore::Entry& backup = backups[static_cast<std::size_t>(row)];
        const QString date = backup.created.isValid()
                                 ? backup.created.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                 : QDialog::tr("unreadable file");
        table->setItem(row, 0, readOnlyItem(date));
        table->setItem(row, 1, readOnlyItem(backup.reason));
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    if (table->rowCount() > 0) table->selectRow(0);
    layout->addWidget(table);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QPushButton* open = buttons->addButton(QDialog::tr("Preview…"), QDialogButtonBox::AcceptRole);
    open->setObjectName(QStringLiteral("pushButton_open_backup"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(table, &QTableWidget::cellDoubleClicked, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    dialog.resize(480, 400);

    if (dialog.exec() != QDialog::Accepted || table->currentRow() < 0) return {};
    return backups[static_cast<std::size_t>(table->currentRow())].path;
}

}  // namespace vk61
