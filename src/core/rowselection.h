#pragma once
#include <QItemSelectionModel>
#include <QObject>
#include <QPointer>
#include <QVariantList>

class QAbstractItemModel;

/// The rows of a list chosen for an action on several at once, as a desktop list chooses them: a click
/// chooses one row, Ctrl and a click adds or removes one, Shift and a click or an arrow key chooses the
/// run from the row clicked last (the anchor). The choice is of the rows as they are: a reset of the model
/// (a new search) drops it before the rows go, and rows inserted or removed carry it along.
class RowSelection : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QAbstractItemModel *model READ model WRITE setModel NOTIFY modelChanged)
    /// The rows chosen, ascending.
    Q_PROPERTY(QVariantList rows READ rows NOTIFY changed)
    Q_PROPERTY(int count READ count NOTIFY changed)
    /// Where a run chosen with Shift starts; -1 before any row has been clicked.
    Q_PROPERTY(int anchor READ anchor NOTIFY anchorChanged)
public:
    explicit RowSelection(QObject *parent = nullptr);

    QAbstractItemModel *model() const;
    void setModel(QAbstractItemModel *model);
    QVariantList rows() const;
    int count() const;
    int anchor() const;

    /// A click on row with modifiers (Qt::KeyboardModifiers): alone it chooses the row and nothing else,
    /// with Ctrl it adds or removes the row, with Shift it chooses the run from the anchor. Whether it was
    /// a click alone, which opens the row.
    Q_INVOKABLE bool click(int row, int modifiers);
    /// Adds the row, or removes it when chosen; the row becomes the anchor.
    Q_INVOKABLE void toggle(int row);
    /// Shift and an arrow key from current: the row step away (kept within the list) becomes current,
    /// and the run from the anchor (current, when there is none) to it is chosen. The new current row.
    Q_INVOKABLE int extend(int current, int step);
    Q_INVOKABLE void selectAll();
    /// Whether there was a choice to drop.
    Q_INVOKABLE bool clear();
    Q_INVOKABLE void deselect(const QVariantList &rows);
    Q_INVOKABLE bool isSelected(int row) const;

signals:
    void modelChanged();
    void changed();
    void anchorChanged();

private:
    void selectRun(int from, int to);
    void setAnchor(int row);
    QModelIndex indexOf(int row) const;

    QPointer<QAbstractItemModel> m_model;
    QItemSelectionModel m_selection;
    int m_anchor = -1;
};
