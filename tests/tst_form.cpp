// Checks the main window form against its layout tables: every object, where it
// sits, what it says, and the few attributes the rest of the program relies on.
#include <QtTest>
#include <QtWidgets>

#include <optional>

#include "ui_quelmarstatus.h"

namespace {

enum Place { Central, MenuBar, TopToolBar, StatusBar, Page, Fixed, Installed, Nested, Grid, Box, Form };

struct Row {
    const char *name;
    const char *cls;
    const char *parent;   // owning object; for a page, the tab widget that adopted it
    Place place;
    const char *in;       // layout (or tab widget) the object is placed in
    QRect geom;           // for Fixed and MenuBar
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
        {"centralWidget", "QWidget", "QuelmarStatus", Central, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
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
        {"menuBar", "QMenuBar", "QuelmarStatus", MenuBar, nullptr, {0, 0, 449, 20}, 0, 0, 0, nullptr, 0, {}},
        {"mainToolBar", "QToolBar", "QuelmarStatus", TopToolBar, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
        {"statusBar", "QStatusBar", "QuelmarStatus", StatusBar, nullptr, {}, 0, 0, 0, nullptr, 0, {}},
    };
    return rows;
}

struct Window {
    QMainWindow w;
    Ui_QuelmarStatus ui;
    Window() { ui.setupUi(&w); }
    QObject *find(const QString &name) const { return w.findChild<QObject *>(name); }
    template <class T> T *get(const QString &name) const { return w.findChild<T *>(name); }
};

// The text a widget shows, if it is one of the text-carrying kinds on this form.
std::optional<QString> textOf(const QObject *o)
{
    if (auto l = qobject_cast<const QLabel *>(o)) return l->text();
    if (auto b = qobject_cast<const QAbstractButton *>(o)) return b->text();
    if (auto e = qobject_cast<const QLineEdit *>(o)) return e->text();
    return std::nullopt;
}

// QObject::receivers is protected; a pointer to member formed through a
// subclass may still be applied to any QObject.
struct SignalProbe : QObject {
    static int receiversOf(const QObject *o, const char *signal)
    {
        int (QObject::*fn)(const char *) const = &SignalProbe::receivers;
        return (o->*fn)(signal);
    }
};

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
        QObject *obj = f.find(row.name);
        QVERIFY(obj);
        QCOMPARE(obj->metaObject()->className(), row.cls);

        QObject *owner = obj->parent();
        if (row.place == Page && owner) // adopted through the tab widget's page stack
            owner = owner->parent();
        QVERIFY(owner);
        QCOMPARE(owner->objectName(), QString(row.parent));

        auto *w = qobject_cast<QWidget *>(obj);
        switch (row.place) {
        case Central: QCOMPARE(f.w.centralWidget(), w); break;
        case MenuBar:
            QCOMPARE(f.w.menuBar(), w);
            QCOMPARE(w->geometry(), row.geom);
            QVERIFY(w->actions().isEmpty());
            break;
        case TopToolBar:
            QCOMPARE(f.w.toolBarArea(qobject_cast<QToolBar *>(w)), Qt::TopToolBarArea);
            QVERIFY(w->actions().isEmpty());
            break;
        case StatusBar: QCOMPARE(f.w.statusBar(), w); break;
        case Page:
            QCOMPARE(f.ui.tabWidget->indexOf(w), row.row);
            QCOMPARE(f.ui.tabWidget->tabText(row.row), QString(row.text));
            QVERIFY(!w->layout());
            break;
        case Fixed: QCOMPARE(w->geometry(), row.geom); break;
        case Installed: QCOMPARE(qobject_cast<QWidget *>(owner)->layout(), obj); break;
        case Nested: {
            auto *outer = f.get<QLayout>(row.in);
            QVERIFY(outer);
            QCOMPARE(outer->itemAt(row.row)->layout(), obj);
            QCOMPARE(qobject_cast<QBoxLayout *>(outer)->stretch(row.row), 0);
            break;
        }
        case Grid: {
            auto *grid = f.get<QGridLayout>(row.in);
            QVERIFY(grid);
            const int i = grid->indexOf(w);
            QVERIFY(i >= 0);
            int r, c, rs, cs;
            grid->getItemPosition(i, &r, &c, &rs, &cs);
            QCOMPARE(QList<int>({r, c, rs, cs}), QList<int>({row.row, row.col, 1, row.colSpan}));
            QCOMPARE(int(grid->itemAt(i)->alignment()), 0);
            break;
        }
        case Box: {
            auto *box = f.get<QBoxLayout>(row.in);
            QVERIFY(box);
            QCOMPARE(box->indexOf(w), row.row);
            QCOMPARE(box->stretch(row.row), 0);
            break;
        }
        case Form: {
            auto *form = f.get<QFormLayout>(row.in);
            QVERIFY(form);
            int r = -1;
            QFormLayout::ItemRole role;
            form->getWidgetPosition(w, &r, &role);
            QCOMPARE(r, row.row);
            QCOMPARE(role, row.col == 0 ? QFormLayout::LabelRole : QFormLayout::FieldRole);
            break;
        }
        }

        if (row.place != Page) {
            const auto text = textOf(obj);
            QCOMPARE(text.has_value(), row.text != nullptr);
            if (text)
                QCOMPARE(*text, QString(row.text));
        }
        if (row.align) {
            int actual = -1;
            if (auto l = qobject_cast<QLabel *>(obj)) actual = int(l->alignment());
            else if (auto e = qobject_cast<QLineEdit *>(obj)) actual = int(e->alignment());
            QCOMPARE(actual, row.align);
        }
        for (auto it = row.props.cbegin(); it != row.props.cend(); ++it)
            QCOMPARE(obj->property(it.key().toLatin1()), it.value());
    }

    void creationOrder()
    {
        // Siblings keep their creation order in children(), and layout items keep
        // the order they were added in; both must follow the table.
        Window f;
        QHash<QObject *, int> lastChild, lastItem;
        for (const Row &row : table()) {
            QObject *obj = f.find(row.name);
            QVERIFY2(obj, row.name);
            if (row.place != Page) {
                const int i = obj->parent()->children().indexOf(obj);
                QVERIFY2(i > lastChild.value(obj->parent(), -1), row.name);
                lastChild[obj->parent()] = i;
            }
            if (row.place == Grid || row.place == Box || row.place == Form) {
                auto *lay = f.get<QLayout>(row.in);
                const int i = lay->indexOf(qobject_cast<QWidget *>(obj));
                QVERIFY2(i > lastItem.value(lay, -1), row.name);
                lastItem[lay] = i;
            }
        }
    }

    void window()
    {
        Window f;
        QCOMPARE(f.w.objectName(), QString("QuelmarStatus"));
        QCOMPARE(f.w.windowTitle(), QString("QuelmarStatus"));
        QCOMPARE(f.w.size(), QSize(449, 416));

        // A name given by the caller is kept.
        QMainWindow named;
        named.setObjectName("mine");
        Ui_QuelmarStatus ui;
        ui.setupUi(&named);
        QCOMPARE(named.objectName(), QString("mine"));
        QCOMPARE(ui.centralWidget->parent(), &named);
    }

    void layouts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("items");
        QTest::addColumn<QList<QPoint>>("emptyCells"); // (row, column)
        const QList<QPoint> none;
        QTest::newRow("verticalLayout") << "verticalLayout" << 3 << none;
        QTest::newRow("gridLayout_3") << "gridLayout_3" << 2 << QList<QPoint>{{0, 0}, {0, 1}, {1, 0}, {1, 1}};
        QTest::newRow("gridLayout") << "gridLayout" << 14 << none;
        QTest::newRow("gridLayout_4") << "gridLayout_4" << 4 << none;
        QTest::newRow("gridLayout_5") << "gridLayout_5" << 9 << none;
        QTest::newRow("gridLayout_6") << "gridLayout_6" << 9 << none;
        QTest::newRow("gridLayout_9") << "gridLayout_9" << 3 << none;
        QTest::newRow("formLayout") << "formLayout" << 2 << none;
        QTest::newRow("gridLayout_7") << "gridLayout_7" << 4 << QList<QPoint>{{0, 0}};
        QTest::newRow("gridLayout_8") << "gridLayout_8" << 2 << none;
        QTest::newRow("horizontalLayout") << "horizontalLayout" << 2 << none;
        QTest::newRow("gridLayout_2") << "gridLayout_2" << 4 << none;
    }

    void layouts()
    {
        QFETCH(QString, name);
        QFETCH(int, items);
        QFETCH(QList<QPoint>, emptyCells);
        Window f;
        auto *lay = f.get<QLayout>(name);
        QVERIFY(lay);
        QCOMPARE(lay->spacing(), 6); // -1 if horizontal and vertical spacing differed
        QCOMPARE(lay->contentsMargins(), QMargins(0, 0, 0, 0));
        QCOMPARE(lay->count(), items);
        for (const QPoint &cell : emptyCells)
            QVERIFY(!qobject_cast<QGridLayout *>(lay)->itemAtPosition(cell.x(), cell.y()));
    }

    void spacers_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("row");    // box index, or grid row
        QTest::addColumn<int>("column"); // -1 in a box layout
        QTest::addColumn<QSize>("hint");
        QTest::addColumn<int>("horizontal");
        QTest::addColumn<int>("vertical");
        QTest::newRow("vertical") << "verticalLayout" << 2 << -1 << QSize(20, 40)
                                  << int(QSizePolicy::Minimum) << int(QSizePolicy::Expanding);
        QTest::newRow("horizontal") << "gridLayout_7" << 0 << 3 << QSize(40, 20)
                                    << int(QSizePolicy::Expanding) << int(QSizePolicy::Minimum);
    }

    void spacers()
    {
        QFETCH(QString, layout);
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QSize, hint);
        QFETCH(int, horizontal);
        QFETCH(int, vertical);
        Window f;
        auto *lay = f.get<QLayout>(layout);
        QVERIFY(lay);
        QLayoutItem *item = column < 0 ? lay->itemAt(row)
                                       : qobject_cast<QGridLayout *>(lay)->itemAtPosition(row, column);
        QVERIFY(item);
        QSpacerItem *spacer = item->spacerItem();
        QVERIFY(spacer);
        QCOMPARE(spacer->sizeHint(), hint);
        QCOMPARE(int(spacer->sizePolicy().horizontalPolicy()), horizontal);
        QCOMPARE(int(spacer->sizePolicy().verticalPolicy()), vertical);
    }

    void fonts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<int>("pointSize"); // 0: the application's default size
        const QStringList readouts{"TimeDisp", "VoltsDisp", "CurrentDisp", "PowerDisp", "PFDisp", "EnergyDisp", "VADisp"};
        for (const QString &n : readouts)
            QTest::newRow(qPrintable(n)) << n << true << 14;
        QTest::newRow("comerr") << "comerr" << true << 14;
        QTest::newRow("cost") << "cost" << true << 10;        // bold through the tab widget
        QTest::newRow("label_19") << "label_19" << true << 10;
        for (const char *n : {"tabWidget", "tab", "tab_2", "tab_3", "Timelabel", "label_3", "ComPort", "label_17",
                              "label_16", "label_6", "cents", "costph", "startButton", "stopButton", "label_18"})
            QTest::newRow(n) << QString(n) << true << 0;
        for (const char *n : {"centralWidget", "label", "TxLine", "label_2", "RcdLine", "statusBar"})
            QTest::newRow(n) << QString(n) << false << 0;
    }

    void fonts()
    {
        QFETCH(QString, name);
        QFETCH(bool, bold);
        QFETCH(int, pointSize);
        Window f;
        auto *w = f.get<QWidget>(name);
        QVERIFY(w);
        QCOMPARE(w->font().bold(), bold);
        QCOMPARE(w->font().weight(), bold ? QFont::Bold : QFont::Normal);
        QCOMPARE(w->font().pointSize(), pointSize ? pointSize : QApplication::font().pointSize());
    }

    void comerrPalette_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("role");
        QTest::addColumn<QColor>("colour");
        const QColor red(255, 0, 0, 255), grey(118, 116, 108, 255);
        QTest::newRow("active window text") << int(QPalette::Active) << int(QPalette::WindowText) << red;
        QTest::newRow("active text") << int(QPalette::Active) << int(QPalette::Text) << red;
        QTest::newRow("inactive window text") << int(QPalette::Inactive) << int(QPalette::WindowText) << red;
        QTest::newRow("inactive text") << int(QPalette::Inactive) << int(QPalette::Text) << red;
        QTest::newRow("disabled window text") << int(QPalette::Disabled) << int(QPalette::WindowText) << grey;
        QTest::newRow("disabled text") << int(QPalette::Disabled) << int(QPalette::Text) << grey;
    }

    void comerrPalette()
    {
        QFETCH(int, group);
        QFETCH(int, role);
        QFETCH(QColor, colour);
        Window f;
        const QPalette pal = f.ui.comerr->palette();
        const auto g = QPalette::ColorGroup(group);
        QCOMPARE(pal.brush(g, QPalette::ColorRole(role)).style(), Qt::SolidPattern);
        QCOMPARE(pal.color(g, QPalette::ColorRole(role)), colour);

        // Every other role of that group stays as the default palette has it.
        const QPalette def = QApplication::palette(f.ui.comerr);
        for (int r = 0; r < QPalette::NColorRoles; ++r) {
            if (r == QPalette::WindowText || r == QPalette::Text)
                continue;
            QVERIFY2(pal.brush(g, QPalette::ColorRole(r)) == def.brush(g, QPalette::ColorRole(r)),
                     qPrintable(QString::number(r)));
        }
    }

    void focusOrder_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("meter") << "tab"
                               << QStringList{"ComPort", "ClearButton_M", "TimeDisp", "VoltsDisp", "CurrentDisp",
                                              "PowerDisp", "PFDisp", "EnergyDisp", "VADisp"};
        QTest::newRow("cost") << "tab_2"
                              << QStringList{"cents", "hoursperday", "costph", "costpw", "costpq", "costpy",
                                             "tcostph", "tcostpw", "tcostpq", "tcostpy", "cleartButton",
                                             "addtButton", "ClearButton", "cost"};
        QTest::newRow("logging") << "tab_3"
                                 << QStringList{"lperiod", "logclear", "browseButton", "fileEdit", "startButton",
                                                "stopButton"};
        QTest::newRow("below") << "layoutWidget3" << QStringList{"TxLine", "RcdLine"};
    }

    void focusOrder()
    {
        QFETCH(QString, holder);
        QFETCH(QStringList, order);
        Window f;
        auto *block = f.get<QWidget>(holder);
        QVERIFY(block);
        QSet<QString> named;
        for (const Row &row : table())
            named.insert(row.name);

        QStringList chain;
        QWidget *it = f.w.nextInFocusChain();
        for (int guard = 0; it != &f.w && guard < 1000; ++guard, it = it->nextInFocusChain()) {
            if (block->isAncestorOf(it) && named.contains(it->objectName()) && (it->focusPolicy() & Qt::TabFocus))
                chain << it->objectName();
        }
        QCOMPARE(chain, order);
    }

    void transmitBlockBelowVisibleArea()
    {
        Window f;
        f.w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.w));
        QCOMPARE(f.w.size(), QSize(449, 416));
        QVERIFY(f.ui.centralWidget->height() < 400);
        QVERIFY(f.ui.layoutWidget3->visibleRegion().isEmpty());
        QVERIFY(!f.ui.comerr->visibleRegion().isEmpty());

        // Only a taller window shows it; nothing moves since the central widget has no layout.
        f.w.resize(449, 560);
        QTRY_VERIFY(!f.ui.layoutWidget3->visibleRegion().isEmpty());
        QVERIFY(!f.ui.centralWidget->layout());
        QCOMPARE(f.ui.layoutWidget3->geometry(), QRect(0, 400, 451, 67));
        QCOMPARE(f.ui.tabWidget->geometry(), QRect(10, 10, 431, 331));
        QCOMPARE(f.ui.comerr->geometry(), QRect(100, 350, 221, 21));
    }

    void retranslateRestoresTexts()
    {
        Window f;
        const QString scribble("changed");
        for (const Row &row : table()) {
            if (!row.text || !*row.text)
                continue;
            QObject *obj = f.find(row.name);
            if (row.place == Page)
                f.ui.tabWidget->setTabText(row.row, scribble);
            else
                obj->setProperty("text", scribble);
        }
        f.w.setWindowTitle(scribble);
        // What the form does not own as text must survive.
        f.ui.TxLine->setText("typed");
        f.ui.cents->setValue(1.5);
        f.ui.logclear->setChecked(false);
        f.ui.ComPort->addItem("COM3");
        f.ui.stopButton->setEnabled(false);
        f.ui.tabWidget->setCurrentIndex(2);

        f.ui.retranslateUi(&f.w);

        int restored = 0;
        for (const Row &row : table()) {
            if (!row.text || !*row.text)
                continue;
            QObject *obj = f.find(row.name);
            const QString now = row.place == Page ? f.ui.tabWidget->tabText(row.row) : *textOf(obj);
            QCOMPARE(now, QString(row.text));
            ++restored;
        }
        QCOMPARE(restored, 36); // 33 widget texts and 3 tab captions
        QCOMPARE(f.w.windowTitle(), QString("QuelmarStatus"));
        QCOMPARE(f.ui.comerr->text(), QString("Communication  Error"));
        QCOMPARE(f.ui.TxLine->text(), QString("typed"));
        QCOMPARE(f.ui.cents->value(), 1.5);
        QVERIFY(!f.ui.logclear->isChecked());
        QCOMPARE(f.ui.ComPort->count(), 1);
        QVERIFY(!f.ui.stopButton->isEnabled());
        QCOMPARE(f.ui.tabWidget->currentIndex(), 2);
    }

    void noSignalConnections_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("signal");
        for (const char *n : {"ClearButton_M", "ClearButton", "cleartButton", "addtButton", "browseButton",
                              "startButton", "stopButton", "logclear"})
            QTest::newRow(n) << QString(n) << QByteArray(SIGNAL(clicked()));
        QTest::newRow("ComPort") << "ComPort" << QByteArray(SIGNAL(activated(int)));
        QTest::newRow("lperiod") << "lperiod" << QByteArray(SIGNAL(valueChanged(int)));
        QTest::newRow("cents") << "cents" << QByteArray(SIGNAL(valueChanged(double)));
    }

    void noSignalConnections()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, signal);
        Window f;
        QObject *obj = f.find(name);
        QVERIFY(obj);
        QCOMPARE(SignalProbe::receiversOf(obj, signal.constData()), 0);

        // The probe does see a connection once one exists.
        QObject sink;
        QVERIFY(QObject::connect(obj, signal.constData(), &sink, SLOT(deleteLater())));
        QCOMPARE(SignalProbe::receiversOf(obj, signal.constData()), 1);
    }
};

QTEST_MAIN(tst_Form)
#include "tst_form.moc"
