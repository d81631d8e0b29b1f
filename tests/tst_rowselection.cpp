#include "core/rowselection.h"

#include <QSignalSpy>
#include <QStringListModel>
#include <QtTest>

namespace {

QVariantList rows(std::initializer_list<int> list)
{
    QVariantList all;
    for (int row : list)
        all << row;
    return all;
}

} // namespace

/// The rows chosen for an export of several: what a click with or without Ctrl and Shift and the keys
/// choose, and that a choice never outlives the rows it was made of.
class TestRowSelection : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void clicksAndKeys();
    void newRowsDropTheChoiceFirst();
    void movedRowsCarryTheirChoice();

private:
    QStringListModel m_model;
};

void TestRowSelection::init()
{
    m_model.setStringList({ "a", "b", "c", "d", "e" });
}

void TestRowSelection::clicksAndKeys()
{
    RowSelection selection;
    selection.setModel(&m_model);
    QSignalSpy changed(&selection, &RowSelection::changed);

    // A click alone chooses its row, and says so (it opens the row); Ctrl adds and removes.
    QVERIFY(selection.click(1, Qt::NoModifier));
    QVERIFY(!selection.click(3, Qt::ControlModifier));
    QCOMPARE(selection.rows(), rows({ 1, 3 }));
    QVERIFY(!selection.click(1, Qt::ControlModifier));
    QCOMPARE(selection.rows(), rows({ 3 }));
    QCOMPARE(selection.anchor(), 1);
    // Shift: the run from the row clicked last, even the one just taken out, in place of the choice.
    QVERIFY(!selection.click(4, Qt::ShiftModifier));
    QCOMPARE(selection.rows(), rows({ 1, 2, 3, 4 }));
    QCOMPARE(selection.anchor(), 1);
    QCOMPARE(changed.count(), 4);
    // A click beyond the rows changes nothing.
    QVERIFY(!selection.click(5, Qt::NoModifier));
    QVERIFY(!selection.click(-1, Qt::ShiftModifier));
    QCOMPARE(selection.count(), 4);

    // Escape drops the choice, once; the anchor stays.
    QVERIFY(selection.clear());
    QVERIFY(!selection.clear());
    QCOMPARE(selection.anchor(), 1);
    // Shift and the arrows from the current row, within the list.
    QCOMPARE(selection.extend(1, -1), 0);
    QCOMPARE(selection.rows(), rows({ 0, 1 }));
    QCOMPARE(selection.extend(0, -1), 0);
    QCOMPARE(selection.extend(0, 1), 1);
    QCOMPARE(selection.rows(), rows({ 1 }));
    selection.selectAll();
    QCOMPARE(selection.rows(), rows({ 0, 1, 2, 3, 4 }));
    selection.deselect(rows({ 4, 0, 9 }));
    QCOMPARE(selection.rows(), rows({ 1, 2, 3 }));
    // Space: the current row in or out, the anchor from then on.
    selection.toggle(2);
    QCOMPARE(selection.rows(), rows({ 1, 3 }));
    QCOMPARE(selection.anchor(), 2);

    // Without an anchor, Shift and an arrow start at the current row.
    RowSelection fresh;
    fresh.setModel(&m_model);
    QCOMPARE(fresh.extend(2, 1), 3);
    QCOMPARE(fresh.rows(), rows({ 2, 3 }));
    QCOMPARE(fresh.anchor(), 2);
}

void TestRowSelection::newRowsDropTheChoiceFirst()
{
    RowSelection selection;
    selection.setModel(&m_model);
    selection.click(1, Qt::NoModifier);
    selection.click(3, Qt::ControlModifier);
    // Whatever follows the choice reads it while the old rows are still there, and finds it empty.
    QStringList seenAtReset;
    bool emptyBeforeReset = false;
    connect(&m_model, &QAbstractItemModel::modelAboutToBeReset, &selection, [&] {
        seenAtReset = m_model.stringList();
        emptyBeforeReset = selection.count() == 0;
    });
    QSignalSpy changed(&selection, &RowSelection::changed);
    m_model.setStringList({ "x", "y", "z", "w" }); // a new search
    QVERIFY(changed.count() > 0);
    QCOMPARE(selection.rows(), QVariantList());
    QCOMPARE(selection.count(), 0);
    QCOMPARE(selection.anchor(), -1);
    QVERIFY(!selection.isSelected(1));
    QVERIFY(!selection.isSelected(3));
    // Shift after a new search starts a run of its own rather than from a row of the old one.
    selection.click(2, Qt::ShiftModifier);
    QCOMPARE(selection.rows(), rows({ 2 }));
    QCOMPARE(seenAtReset, QStringList({ "a", "b", "c", "d", "e" }));
    QVERIFY(emptyBeforeReset);
}

void TestRowSelection::movedRowsCarryTheirChoice()
{
    RowSelection selection;
    selection.setModel(&m_model);
    selection.click(2, Qt::NoModifier);
    selection.click(4, Qt::ControlModifier);
    QSignalSpy changed(&selection, &RowSelection::changed);
    m_model.removeRows(0, 1);
    QCOMPARE(selection.rows(), rows({ 1, 3 }));
    m_model.insertRows(0, 2);
    QCOMPARE(selection.rows(), rows({ 3, 5 }));
    QVERIFY(changed.count() >= 2);
    m_model.removeRows(3, 1);
    QCOMPARE(selection.rows(), rows({ 4 }));
}

QTEST_GUILESS_MAIN(TestRowSelection)
#include "tst_rowselection.moc"
