#pragma once
#include <QAbstractListModel>
#include <QByteArray>
#include <QHash>
#include <QVariantMap>

/// A flat list model of plain rows, each role a field of the row. What a view or QML reads of it
/// is the same for every such list: an empty string for a role without a value or a row that does
/// not exist, and get(row) as a map from role name to value.
class RowListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

public slots:
    /// The row as a map from role name to value; an empty map for a row that does not exist.
    QVariantMap get(int index) const;

protected:
    RowListModel(QHash<int, QByteArray> roles, QObject *parent);

    virtual int size() const = 0;
    /// The value of role for an existing row; an invalid variant for a role the row lacks.
    virtual QVariant value(int row, int role) const = 0;

    /// Puts rows in the place of the current ones, inside one model reset.
    template <typename List> void replaceRows(List &current, List &rows)
    {
        beginResetModel();
        current.swap(rows);
        endResetModel();
    }

private:
    QHash<int, QByteArray> m_roles;
};
