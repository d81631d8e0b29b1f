#pragma once

/// Serves assistive technology (screen readers) a password field of the interface as what the field
/// shows rather than what it holds. Qt Quick's own accessible of a text field reads its `text`
/// property, which holds a password in clear, and hands it to every client of the accessibility bus.
/// Install before the first window is created: an accessible, once made, serves its field for good.
void installPasswordFieldAccessibility();
