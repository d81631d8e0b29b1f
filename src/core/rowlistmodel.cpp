#include "core/rowlistmodel.h"

RowListModel::RowListModel(QHash<int, QByteArray> roles, QObject *parent)
    : QAbstractListModel(parent)
    , m_roles(std::move(roles))
{
}

int RowListModel::rowCount(const QModelIndex &parent) const
{
    // A flat list: rows have no children of their own.
    return parent.isValid() ? 0 : size();
}

int RowListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant RowListModel::data(const QModelIndex &index, int role) const
{
    // A size hint must be a size or nothing; a string would be read as an empty size.
    if (role == Qt::SizeHintRole)
        return QVariant();
    const int row = index.row();
    if (row < 0 || row >= size() || !m_roles.contains(role))
        return QString();
    return value(row, role);
}

QHash<int, QByteArray> RowListModel::roleNames() const
{
    return m_roles;
}

QVariantMap RowListModel::get(int index) const
{
    QVariantMap map;
    if (index < 0 || index >= size())
        return map;
    for (auto it = m_roles.cbegin(); it != m_roles.cend(); ++it)
        map.insert(QString::fromLatin1(it.value()), value(index, it.key()));
    return map;
}
