// Checks the main window form against its layout tables: every object, where it
// sits, what it says, and the few attributes the rest of the program relies on.
#include <QtTest>
#include <QtWidgets>

#include "ui_quelmarstatus.h"

namespace {

enum Place { Furniture, Page, Fixed, Installed, Nested, Grid, Box, Form }; // Furniture: see window()

struct Row {
    const char *name;
    const char *cls;
    const char *parent;   // owning object; for a page, the tab widget that adopted it
    Place place;
    const char *in;       // layout (or tab widget) the object is placed in
    QRect geom;           // for Fixed
    int row, col, colSpan; // grid cell; box index in row; form row/role (0 label, 1 field); page index in row
    const char *text;     // nullptr: the object carries no text
    int align;            // 0: the object has no alignment to check
    QVariantMap props;
};

const int L = Qt::AlignLeft | Qt::AlignVCenter;
const int R = Qt::AlignRight | Qt::AlignVCenter;
const int C = Qt::AlignCenter;
const QVariantMap RW{{"readOnly", false}};

// Creation order: the rows must stay in the order setupUi builds them.
const QList<Row> &table()
{
    static const QList<Row> rows{
        {"centralWidget", "QWidget", "QuelmarStatus", Furniture, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
        {"tabWidget", "QTabWidget", "centralWidget", Fixed, nullptr, {10, 10, 431, 331}, 0, 0, 0, nullptr, 0,
         {{"tabShape", QVariant::fromValue(QTabWidget::Rounded)}, {"currentIndex", 0}, {"count", 3}}},
        // Meter page
        {"tab", "QWidget", "tabWidget", Page, "tabWidget", {}, 0, 0, 0, "Meter", 0, {}},
        {"layoutWidget", "QWidget", "tab", Fixed, nullptr, {280, 30, 138, 173}, 0, 0, 0, nullptr, 0, {}},
        {"verticalLayout", "QVBoxLayout", "layoutWidget", Installed, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
        {"gridLayout_3", "QGridLayout", "verticalLayout", Nested, "verticalLayout", {}, 0, 0, 0, nullptr, 0, {}},
        {"ComPort", "QComboBox", "layoutWidget", Grid, "gridLayout_3", {}, 2, 1, 1, nullptr, 0, {{"editable", true}, {"count", 0}}},
        {"label_5", "QLabel", "layoutWidget", Grid, "gridLayout_3", {}, 2, 0, 1, "Com Port", L, {}},
        {"ClearButton_M", "QPushButton", "layoutWidget", Box, "verticalLayout", {}, 1, 0, 0, "Clear Data", 0, {}},
        {"gridLayoutWidget", "QWidget", "tab", Fixed, nullptr, {10, 10, 251, 295}, 0, 0, 0, nullptr, 0, {}},
        {"gridLayout", "QGridLayout", "gridLayoutWidget", Installed, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
        {"Timelabel", "QLabel", "gridLayoutWidget", Grid, "gridLayout", {}, 0, 0, 1, "Time:", R, {}},
        {"Voltslabel", "QLabel", "gridLayoutWidget", Grid, "gridLayout", {}, 2, 0, 1, "Voltage:", R, {}},
        {"Currentlabel", "QLabel", "gridLayoutWidget", Grid, "gridLayout", {}, 3, 0, 1, "Current:", R, {}},
        {"Powerlabel", "QLabel", "gridLayoutWidget", Grid, "gridLayout", {}, 4, 0, 1, "Real Power:", R, {}},
        {"PFlabel", "QLabel", "gridLayoutWidget", Grid, "gridLayout", {}, 5, 0, 1, "Power Factor:", R, {}},
        {"TimeDisp", "QLineEdit", "gridLayoutWidget", Grid, "gridLayout", {}, 0, 1, 1, "", R, RW},
        {"VoltsDisp", "QLineEdit", "gridLayoutWidget", Grid, "gridLayout", {}, 2, 1, 1, "", R, RW},
        {"CurrentDisp", "QLineEdit", "gridLayoutWidget", Grid, "gridLayout", {}, 3, 1, 1, "", R, RW},
        {"PowerDisp", "QLineEdit", "gridLayoutWidget", Grid, "gridLayout", {}, 4, 1, 1, "", R, RW},
        {"PFDisp", "QLineEdit", "gridLayoutWidget", Grid, "gridLayout", {}, 5, 1, 1, "", R, RW},
        {"EnergyDisp", "QLineEdit", "gridLayoutWidget", Grid, "gridLayout", {}, 1, 1, 1, "", R, RW},
        {"Energylabel", "QLabel", "gridLayoutWidget", Grid, "gridLayout", {}, 1, 0, 1, "Energy:", R, {}},
        {"VADisp", "QLineEdit", "gridLayoutWidget", Grid, "gridLayout", {}, 6, 1, 1, "", R, RW},
        {"label_3", "QLabel", "gridLayoutWidget", Grid, "gridLayout", {}, 6, 0, 1, "Apparent Power", L, {}},
        // Cost Calculator page
        {"tab_2", "QWidget", "tabWidget", Page, "tabWidget", {}, 1, 0, 0, "Cost Calculator", 0, {}},
        {"layoutWidget1", "QWidget", "tab_2", Fixed, nullptr, {10, 30, 181, 67}, 0, 0, 0, nullptr, 0, {}},
        {"gridLayout_4", "QGridLayout", "layoutWidget1", Installed, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
        {"cents", "QDoubleSpinBox", "layoutWidget1", Grid, "gridLayout_4", {}, 0, 1, 1, nullptr, 0,
         {{"minimum", 0.0}, {"maximum", 99.99}, {"decimals", 2}, {"singleStep", 0.01}, {"value", 18.0}}},
        {"label_7", "QLabel", "layoutWidget1", Grid, "gridLayout_4", {}, 1, 0, 1, "Hours used per Day", L, {}},
        {"hoursperday", "QDoubleSpinBox", "layoutWidget1", Grid, "gridLayout_4", {}, 1, 1, 1, nullptr, 0,
         {{"minimum", 0.0}, {"maximum", 24.0}, {"decimals", 2}, {"singleStep", 0.01}, {"value", 24.0}}},
        {"label_6", "QLabel", "layoutWidget1", Grid, "gridLayout_4", {}, 0, 0, 1, "Cost per kw in cents", L, {}},
        {"layoutWidget2", "QWidget", "tab_2", Fixed, nullptr, {10, 150, 191, 119}, 0, 0, 0, nullptr, 0, {}},
        {"gridLayout_5", "QGridLayout", "layoutWidget2", Installed, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
        {"label_8", "QLabel", "layoutWidget2", Grid, "gridLayout_5", {}, 1, 0, 1, "Cost per Hour", L, {}},
        {"costph", "QLineEdit", "layoutWidget2", Grid, "gridLayout_5", {}, 1, 1, 1, "", L, RW},
        {"costpw", "QLineEdit", "layoutWidget2", Grid, "gridLayout_5", {}, 2, 1, 1, "", L, RW},
        {"costpq", "QLineEdit", "layoutWidget2", Grid, "gridLayout_5", {}, 3, 1, 1, "", L, RW},
        {"costpy", "QLineEdit", "layoutWidget2", Grid, "gridLayout_5", {}, 4, 1, 1, "", L, RW},
        {"label_10", "QLabel", "layoutWidget2", Grid, "gridLayout_5", {}, 4, 0, 1, "Cost per Year", L, {}},
        {"label_9", "QLabel", "layoutWidget2", Grid, "gridLayout_5", {}, 3, 0, 1, "Cost per Quarter", L, {}},
        {"label_11", "QLabel", "layoutWidget2", Grid, "gridLayout_5", {}, 2, 0, 1, "Cost per Week", L, {}},
        {"label_17", "QLabel", "layoutWidget2", Grid, "gridLayout_5", {}, 0, 0, 2, "Current Appliance Costs", C, {}},
        {"gridLayoutWidget_2", "QWidget", "tab_2", Fixed, nullptr, {210, 150, 191, 119}, 0, 0, 0, nullptr, 0, {}},
        {"gridLayout_6", "QGridLayout", "gridLayoutWidget_2", Installed, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
        {"tcostph", "QLineEdit", "gridLayoutWidget_2", Grid, "gridLayout_6", {}, 1, 1, 1, "", L, RW},
        {"label_12", "QLabel", "gridLayoutWidget_2", Grid, "gridLayout_6", {}, 1, 0, 1, "Cost per Hour", L, {}},
        {"label_13", "QLabel", "gridLayoutWidget_2", Grid, "gridLayout_6", {}, 2, 0, 1, "Cost per Week", L, {}},
        {"label_14", "QLabel", "gridLayoutWidget_2", Grid, "gridLayout_6", {}, 3, 0, 1, "Cost per Quarter", L, {}},
        {"label_15", "QLabel", "gridLayoutWidget_2", Grid, "gridLayout_6", {}, 4, 0, 1, "Cost per Year", L, {}},
        {"tcostpw", "QLineEdit", "gridLayoutWidget_2", Grid, "gridLayout_6", {}, 2, 1, 1, "", L, RW},
        {"tcostpq", "QLineEdit", "gridLayoutWidget_2", Grid, "gridLayout_6", {}, 3, 1, 1, "", L, RW},
        {"tcostpy", "QLineEdit", "gridLayoutWidget_2", Grid, "gridLayout_6", {}, 4, 1, 1, "", L, RW},
        {"label_16", "QLabel", "gridLayoutWidget_2", Grid, "gridLayout_6", {}, 0, 0, 2, "Total Audit Costs", C, {}},
        {"gridLayoutWidget_5", "QWidget", "tab_2", Fixed, nullptr, {240, 30, 160, 83}, 0, 0, 0, nullptr, 0, {}},
        {"gridLayout_9", "QGridLayout", "gridLayoutWidget_5", Installed, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
        {"cleartButton", "QPushButton", "gridLayoutWidget_5", Grid, "gridLayout_9", {}, 2, 0, 1, "Clear Totals", 0, {}},
        {"addtButton", "QPushButton", "gridLayoutWidget_5", Grid, "gridLayout_9", {}, 1, 0, 1, "Add current Data to Totals", 0, {}},
        {"ClearButton", "QPushButton", "gridLayoutWidget_5", Grid, "gridLayout_9", {}, 0, 0, 1, "Clear Current Data", 0, {}},
        {"formLayoutWidget", "QWidget", "tab_2", Fixed, nullptr, {10, 110, 181, 24}, 0, 0, 0, nullptr, 0, {}},
        {"formLayout", "QFormLayout", "formLayoutWidget", Installed, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
        {"label_19", "QLabel", "formLayoutWidget", Form, "formLayout", {}, 0, 0, 0, "Cost Now", L, {}},
        {"cost", "QLineEdit", "formLayoutWidget", Form, "formLayout", {}, 0, 1, 0, "", L, RW},
        // Data Logging page
        {"tab_3", "QWidget", "tabWidget", Page, "tabWidget", {}, 2, 0, 0, "Data Logging", 0, {}},
        {"gridLayoutWidget_3", "QWidget", "tab_3", Fixed, nullptr, {30, 130, 361, 31}, 0, 0, 0, nullptr, 0, {}},
        {"gridLayout_7", "QGridLayout", "gridLayoutWidget_3", Installed, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
        {"lperiod", "QSpinBox", "gridLayoutWidget_3", Grid, "gridLayout_7", {}, 0, 2, 1, nullptr, 0,
         {{"minimum", 1}, {"maximum", 99}, {"singleStep", 1}, {"value", 1}}},
        {"label_18", "QLabel", "gridLayoutWidget_3", Grid, "gridLayout_7", {}, 0, 1, 1, "Logging period in seconds", L, {}},
        {"logclear", "QCheckBox", "gridLayoutWidget_3", Grid, "gridLayout_7", {}, 0, 4, 1, "Clear Data First", 0, {{"checked", true}}},
        {"gridLayoutWidget_4", "QWidget", "tab_3", Fixed, nullptr, {30, 69, 361, 51}, 0, 0, 0, nullptr, 0, {}},
        {"gridLayout_8", "QGridLayout", "gridLayoutWidget_4", Installed, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
        {"browseButton", "QPushButton", "gridLayoutWidget_4", Grid, "gridLayout_8", {}, 0, 1, 1, "Create Log File", 0, {}},
        {"fileEdit", "QLineEdit", "gridLayoutWidget_4", Grid, "gridLayout_8", {}, 0, 0, 1, "", L, {{"readOnly", true}}},
        {"horizontalLayoutWidget", "QWidget", "tab_3", Fixed, nullptr, {210, 20, 181, 41}, 0, 0, 0, nullptr, 0, {}},
        {"horizontalLayout", "QHBoxLayout", "horizontalLayoutWidget", Installed, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
        {"startButton", "QPushButton", "horizontalLayoutWidget", Box, "horizontalLayout", {}, 0, 0, 0, "START", 0, {{"enabled", true}}},
        {"stopButton", "QPushButton", "horizontalLayoutWidget", Box, "horizontalLayout", {}, 1, 0, 0, "STOP", 0, {{"enabled", true}}},
        // Below the tabs
        {"layoutWidget3", "QWidget", "centralWidget", Fixed, nullptr, {0, 400, 451, 67}, 0, 0, 0, nullptr, 0, {}},
        {"gridLayout_2", "QGridLayout", "layoutWidget3", Installed, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
        {"label", "QLabel", "layoutWidget3", Grid, "gridLayout_2", {}, 0, 0, 1, "Transmit", L, {}},
        {"TxLine", "QLineEdit", "layoutWidget3", Grid, "gridLayout_2", {}, 0, 1, 1, "", L, RW},
        {"label_2", "QLabel", "layoutWidget3", Grid, "gridLayout_2", {}, 1, 0, 1, "Receive", L, {}},
        {"RcdLine", "QLineEdit", "layoutWidget3", Grid, "gridLayout_2", {}, 1, 1, 1, "", L, RW},
        {"comerr", "QLabel", "centralWidget", Fixed, nullptr, {100, 350, 221, 21}, 0, 0, 0, "Communication  Error", L, {}},
        // Window furniture
        {"menuBar", "QMenuBar", "QuelmarStatus", Fixed, nullptr, {0, 0, 449, 20}, 0, 0, 0, nullptr, 0, {}},
        {"mainToolBar", "QToolBar", "QuelmarStatus", Furniture, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
        {"statusBar", "QStatusBar", "QuelmarStatus", Furniture, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
    };
    return rows;
}

// Widgets with a point size of their own; every other one keeps the default size.
const QHash<QByteArray, int> pointSizes{{"TimeDisp", 14}, {"VoltsDisp", 14}, {"CurrentDisp", 14}, {"PowerDisp", 14},
    {"PFDisp", 14}, {"EnergyDisp", 14}, {"VADisp", 14}, {"comerr", 14}, {"cost", 10}, {"label_19", 10}};

struct Window {
    QMainWindow w;
    Ui_QuelmarStatus ui;
    Window() { ui.setupUi(&w); }
    template <class T = QObject> T *get(const char *name) const { return w.findChild<T *>(name); }
};

// The kinds of widget on this form that carry a text.
bool hasText(const QObject *o)
{
    return o->inherits("QLabel") || o->inherits("QAbstractButton") || o->inherits("QLineEdit");
}

} // namespace

class tst_Form : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A default size unlike 10 and 14 keeps the point-size checks meaningful.
        QFont f = QApplication::font();
        f.setPointSize(9);
        QApplication::setFont(f);
    }

    void objects_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < table().size(); ++i)
            QTest::newRow(table().at(i).name) << i;
    }

    void objects()
    {
        QFETCH(int, index);
        const Row &row = table().at(index);
        Window f;
        QObject *obj = f.get(row.name);
        QVERIFY(obj);
        QCOMPARE(obj->metaObject()->className(), row.cls);
        QObject *owner = obj->parent();
        if (row.place == Page && owner) // adopted through the tab widget's page stack
            owner = owner->parent();
        QVERIFY(owner);
        QCOMPARE(owner->objectName(), QString(row.parent));

        auto *w = qobject_cast<QWidget *>(obj);
        switch (row.place) {
        case Furniture: break;
        case Page:
            QCOMPARE(f.ui.tabWidget->indexOf(w), row.row);
            QCOMPARE(f.ui.tabWidget->tabText(row.row), QString(row.text));
            QVERIFY(!w->layout());
            break;
        case Fixed: QCOMPARE(w->geometry(), row.geom); break;
        case Installed: QCOMPARE(qobject_cast<QWidget *>(owner)->layout(), obj); break;
        case Grid: {
            auto *grid = f.get<QGridLayout>(row.in);
            int i = grid ? grid->indexOf(w) : -1, r, c, rs, cs;
            QVERIFY(i >= 0);
            grid->getItemPosition(i, &r, &c, &rs, &cs);
            QCOMPARE(QList<int>({r, c, rs, cs, int(grid->itemAt(i)->alignment())}),
                     QList<int>({row.row, row.col, 1, row.colSpan, 0}));
            break;
        }
        case Nested:
        case Box: {
            auto *box = f.get<QBoxLayout>(row.in);
            QLayoutItem *item = box ? box->itemAt(row.row) : nullptr;
            QVERIFY(item);
            QCOMPARE(row.place == Nested ? static_cast<QObject *>(item->layout()) : item->widget(), obj);
            QCOMPARE(box->stretch(row.row), 0);
            break;
        }
        case Form: {
            int r = -1;
            QFormLayout::ItemRole role = QFormLayout::SpanningRole;
            if (auto *form = f.get<QFormLayout>(row.in))
                form->getWidgetPosition(w, &r, &role);
            QCOMPARE(QList<int>({r, int(role)}), QList<int>({row.row, row.col})); // role 0 label, 1 field
            break;
        }
        }

        if (auto *lay = qobject_cast<QLayout *>(obj)) {
            QCOMPARE(lay->spacing(), 6); // -1 if horizontal and vertical spacing differed
            QCOMPARE(lay->contentsMargins(), QMargins(0, 0, 0, 0));
            // Nothing beyond the table's objects, plus one spacer in each of two layouts.
            int items = row.name == QByteArray("verticalLayout") || row.name == QByteArray("gridLayout_7");
            for (const Row &other : table())
                items += qstrcmp(other.in, row.name) == 0;
            QCOMPARE(lay->count(), items);
        }
        if (w && w != f.w.menuBar()) {
            // The pages inherit the tab widget's bold; outside the tabs only comerr is bold.
            const bool bold = w == f.ui.comerr || w == f.ui.tabWidget || f.ui.tabWidget->isAncestorOf(w);
            QCOMPARE(w->font().weight(), bold ? QFont::Bold : QFont::Normal);
            QCOMPARE(w->font().pointSize(), pointSizes.value(row.name, QApplication::font().pointSize()));
        }
        if (row.place != Page) {
            QCOMPARE(hasText(obj), row.text != nullptr);
            if (row.text)
                QCOMPARE(obj->property("text").toString(), QString(row.text));
        }
        if (row.align)
            QCOMPARE(int(obj->property("alignment").value<Qt::Alignment>()), row.align);
        for (auto it = row.props.cbegin(); it != row.props.cend(); ++it)
            QCOMPARE(obj->property(it.key().toLatin1()), it.value());
    }

    void spacers()
    {
        Window f;
        QLayoutItem *vertical = f.ui.verticalLayout->itemAt(2), *horizontal = f.ui.gridLayout_7->itemAtPosition(0, 3);
        QVERIFY(vertical && vertical->spacerItem() && horizontal && horizontal->spacerItem());
        QCOMPARE(vertical->sizeHint(), QSize(20, 40));
        QCOMPARE(vertical->spacerItem()->sizePolicy(), QSizePolicy(QSizePolicy::Minimum, QSizePolicy::Expanding));
        QCOMPARE(horizontal->sizeHint(), QSize(40, 20));
        QCOMPARE(horizontal->spacerItem()->sizePolicy(), QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum));
    }

    void comerrPalette()
    {
        // Red text in the active and inactive groups, grey when disabled; every
        // other role stays as the default palette has it.
        Window f;
        const QPalette pal = f.ui.comerr->palette(), def = QApplication::palette(f.ui.comerr);
        for (auto g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            for (int r = 0; r < QPalette::NColorRoles; ++r) {
                const auto role = QPalette::ColorRole(r);
                const QBrush want = role != QPalette::WindowText && role != QPalette::Text ? def.brush(g, role)
                    : QBrush(g == QPalette::Disabled ? QColor(118, 116, 108) : QColor(255, 0, 0));
                QVERIFY2(pal.brush(g, role) == want, qPrintable(QString("group %1 role %2").arg(g).arg(r)));
            }
        }
    }

    void focusOrder()
    {
        // Within each block Tab follows creation order, which is table order: the
        // readouts go Time, Volts, ... Energy, VA although they show Energy second.
        Window f;
        const QSet<QByteArray> focusable{"QLineEdit", "QPushButton", "QComboBox", "QSpinBox", "QDoubleSpinBox", "QCheckBox"};
        for (const char *holder : {"tab", "tab_2", "tab_3", "layoutWidget3"}) {
            auto *block = f.get<QWidget>(holder);
            QStringList expected, chain;
            for (const Row &row : table())
                if (focusable.contains(row.cls) && block->isAncestorOf(f.get<QWidget>(row.name)))
                    expected << row.name;
            QWidget *it = f.w.nextInFocusChain();
            for (int guard = 0; it != &f.w && guard < 1000; ++guard, it = it->nextInFocusChain())
                if (block->isAncestorOf(it) && (it->focusPolicy() & Qt::TabFocus) && expected.contains(it->objectName()))
                    chain << it->objectName();
            QCOMPARE(chain, expected);
        }
    }

    void window()
    {
        Window f;
        QCOMPARE(f.w.objectName(), QString("QuelmarStatus"));
        QCOMPARE(f.w.windowTitle(), QString("QuelmarStatus"));
        QCOMPARE(f.w.centralWidget(), f.ui.centralWidget);
        QCOMPARE(f.w.menuBar(), f.ui.menuBar);
        QCOMPARE(f.w.statusBar(), f.ui.statusBar);
        QCOMPARE(f.w.toolBarArea(f.ui.mainToolBar), Qt::TopToolBarArea);
        QVERIFY(f.ui.menuBar->actions().isEmpty() && f.ui.mainToolBar->actions().isEmpty());

        f.w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.w));
        QCOMPARE(f.w.size(), QSize(449, 416));
        // Menu, tool and status bars leave the central widget under 400 high, so the block at y 400 is out of sight.
        QVERIFY(f.ui.centralWidget->height() < 400);
        QVERIFY(f.ui.layoutWidget3->visibleRegion().isEmpty());
        QVERIFY(!f.ui.comerr->visibleRegion().isEmpty());
        // Only a taller window shows it; nothing moves since the central widget has no layout.
        f.w.resize(449, 560);
        QTRY_VERIFY(!f.ui.layoutWidget3->visibleRegion().isEmpty());
        QCOMPARE(f.ui.layoutWidget3->geometry(), QRect(0, 400, 451, 67));
        QCOMPARE(f.ui.tabWidget->geometry(), QRect(10, 10, 431, 331));
        QCOMPARE(f.ui.comerr->geometry(), QRect(100, 350, 221, 21));
    }

    void retranslateRestoresTextsOnly()
    {
        Window f;
        for (const Row &row : table()) { // scribble over every form text
            if (row.place == Page)
                f.ui.tabWidget->setTabText(row.row, "x");
            else if (row.text && *row.text)
                f.get(row.name)->setProperty("text", "x");
        }
        f.w.setWindowTitle("x");
        // What the form does not own as text must survive.
        f.ui.TxLine->setText("typed");
        f.ui.logclear->setChecked(false);
        f.ui.tabWidget->setCurrentIndex(2);
        f.ui.retranslateUi(&f.w);
        for (const Row &row : table()) {
            if (row.place == Page)
                QCOMPARE(f.ui.tabWidget->tabText(row.row), QString(row.text));
            else if (row.text && *row.text)
                QCOMPARE(f.get(row.name)->property("text").toString(), QString(row.text));
        }
        QCOMPARE(f.w.windowTitle(), QString("QuelmarStatus"));
        QCOMPARE(f.ui.TxLine->text(), QString("typed"));
        QVERIFY(!f.ui.logclear->isChecked());
        QCOMPARE(f.ui.tabWidget->currentIndex(), 2);
    }

    void formConnectsNothing()
    {
        // Only the window wires the controls; the form's connectSlotsByName must find nothing.
        Window f;
        // A disconnect with wildcards succeeds only where a connection exists.
        for (const Row &row : table())
            if (auto *b = qobject_cast<QAbstractButton *>(f.get(row.name)))
                QVERIFY2(!QObject::disconnect(b, &QAbstractButton::clicked, nullptr, nullptr), row.name);
        QVERIFY(!QObject::disconnect(f.ui.ComPort, &QComboBox::activated, nullptr, nullptr));
        QVERIFY(!QObject::disconnect(f.ui.lperiod, &QSpinBox::valueChanged, nullptr, nullptr));
        QVERIFY(!QObject::disconnect(f.ui.cents, &QDoubleSpinBox::valueChanged, nullptr, nullptr));
    }
};

QTEST_MAIN(tst_Form)
#include "tst_form.moc"
