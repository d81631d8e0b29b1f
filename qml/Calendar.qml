import QtQuick 2.15
import QtQuick.Controls 1.4 as Controls1
import QtQuick.Controls.Styles 1.4

// The month calendar of the first Quick Controls generation, under a name of its own so that the
// pages can keep importing the second generation.
Controls1.Calendar {
}
