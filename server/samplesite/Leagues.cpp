#include "Leagues.h"

namespace chenglan::sample {
namespace {

constexpr int kDay = 24 * 60;

constexpr int at(int day, int hour, int minute) { return day * kDay + hour * 60 + minute; }

std::vector<LeagueDefinition> makeDefinitions() {
    std::vector<LeagueDefinition> definitions;

    definitions.push_back({36,
                           QStringLiteral("英格兰超级联赛"),
                           QStringLiteral("英超"),
                           QStringLiteral("#CC0066"),
                           false,
                           false,
                           false,
                           {at(0, 20, 30), at(0, 23, 0), at(0, 23, 0), at(0, 23, 0), at(1, 1, 30), at(1, 21, 30),
                            at(1, 21, 30), at(2, 0, 0), at(3, 4, 0)},
                           {QStringLiteral("北岸联"),   QStringLiteral("红港竞技"),
                            QStringLiteral("西湾城"),   QStringLiteral("圣玛丽流浪者"),
                            QStringLiteral("橡树谷"),   QStringLiteral("白石联队"),
                            QStringLiteral("铁桥竞技"), QStringLiteral("黑森林"),
                            QStringLiteral("皇家海港"), QStringLiteral("狮心城"),
                            QStringLiteral("东码头"),   QStringLiteral("金斯顿体育"),
                            QStringLiteral("老磨坊"),   QStringLiteral("米德伍德竞技足球俱乐部"),
                            QStringLiteral("北山"),     QStringLiteral("蓝湖联"),
                            QStringLiteral("格兰特堡"), QStringLiteral("雷文斯顿"),
                            QStringLiteral("威尔希尔"), QStringLiteral("霍克斯菲尔德")}});

    definitions.push_back(
        {34,
         QStringLiteral("意甲"),
         QStringLiteral("意甲"),
         QStringLiteral("#0066FF"),
         false,
         true,
         false,
         {at(0, 22, 0), at(1, 0, 0), at(1, 2, 45), at(1, 19, 30), at(1, 22, 0), at(1, 22, 0), at(2, 1, 0),
          at(2, 3, 45)},
         {QStringLiteral("罗维纳"), QStringLiteral("圣卡洛竞技"), QStringLiteral("维塔利亚"),
          QStringLiteral("蒙特贝罗"), QStringLiteral("帕拉迪索"), QStringLiteral("阿尔蒂纳"),
          QStringLiteral("卡斯泰洛"), QStringLiteral("里瓦尔塔"), QStringLiteral("托雷维奇亚"),
          QStringLiteral("佩斯卡托雷"), QStringLiteral("瓦莱西亚"), QStringLiteral("博尔戈诺沃"),
          QStringLiteral("奥罗拉"), QStringLiteral("菲奥伦蒂诺"), QStringLiteral("圣塞韦罗体育"),
          QStringLiteral("拉戈马焦雷"), QStringLiteral("科斯塔布鲁纳"), QStringLiteral("贝尔维德雷")}});

    definitions.push_back(
        {8,
         QStringLiteral("德国甲级联赛"),
         QStringLiteral("德甲"),
         QStringLiteral("#990099"),
         false,
         false,
         true,
         {at(0, 3, 30), at(0, 22, 30), at(0, 22, 30), at(0, 22, 30), at(1, 1, 30), at(1, 22, 30), at(2, 0, 30)},
         {QStringLiteral("施泰因堡"), QStringLiteral("林德霍夫"), QStringLiteral("罗森塔尔"),
          QStringLiteral("瓦尔德海姆"), QStringLiteral("布伦嫩"), QStringLiteral("霍亨费尔斯"),
          QStringLiteral("艾森塔尔"), QStringLiteral("克莱因贝格"), QStringLiteral("莫尔巴赫"),
          QStringLiteral("奥伯豪森联"), QStringLiteral("里希滕瑙"), QStringLiteral("格吕瑙"),
          QStringLiteral("巴德赫尔茨"), QStringLiteral("施瓦岑巴赫竞技"), QStringLiteral("维森多夫"),
          QStringLiteral("哈根布鲁克"), QStringLiteral("弗赖瑙"), QStringLiteral("特罗斯廷根")}});

    definitions.push_back(
        {16,
         QStringLiteral("荷兰甲级联赛"),
         QStringLiteral("荷甲"),
         QStringLiteral("#FF6600"),
         false,
         true,
         false,
         {at(0, 23, 30), at(1, 1, 0), at(1, 3, 0), at(1, 17, 30), at(1, 19, 45), at(1, 22, 0)},
         {QStringLiteral("德温特"), QStringLiteral("哈勒梅尔"), QStringLiteral("布鲁克"), QStringLiteral("费尔德霍芬"),
          QStringLiteral("斯海尔德"), QStringLiteral("阿姆斯泰因"), QStringLiteral("赫龙兰"), QStringLiteral("莱茵港"),
          QStringLiteral("兹瓦特瓦特"), QStringLiteral("凯尔德伦"), QStringLiteral("范博赫尔"),
          QStringLiteral("奥斯特维克"), QStringLiteral("海尔德"), QStringLiteral("梅尔斯特"), QStringLiteral("霍赫芬"),
          QStringLiteral("德博斯")}});

    definitions.push_back(
        {60,
         QStringLiteral("中国超级联赛"),
         QStringLiteral("中超"),
         QStringLiteral("#CC3300"),
         true,
         false,
         false,
         {at(-1, 19, 35), at(0, 15, 30), at(0, 19, 35), at(0, 19, 35), at(1, 15, 30), at(1, 19, 35)},
         {QStringLiteral("江城星辉"), QStringLiteral("北港竞技"), QStringLiteral("海川"), QStringLiteral("东湖"),
          QStringLiteral("云岭"), QStringLiteral("滨海蓝鲸"), QStringLiteral("青石"), QStringLiteral("金陵雄狮"),
          QStringLiteral("长风"), QStringLiteral("南溪"), QStringLiteral("西岭雪豹"), QStringLiteral("临江"),
          QStringLiteral("鹿城"), QStringLiteral("沧澜"), QStringLiteral("松原"), QStringLiteral("天河航母")}});

    definitions.push_back(
        {25,
         QStringLiteral("日本职业联赛"),
         QStringLiteral("日职"),
         QStringLiteral("#009900"),
         true,
         true,
         false,
         {at(0, 13, 0), at(0, 14, 0), at(0, 14, 0), at(0, 18, 0), at(1, 13, 0), at(1, 17, 0)},
         {QStringLiteral("千叶海鸥"), QStringLiteral("港北"), QStringLiteral("清水湾"), QStringLiteral("樱丘"),
          QStringLiteral("富岳"), QStringLiteral("大和川"), QStringLiteral("北都"), QStringLiteral("若松"),
          QStringLiteral("鹤见"), QStringLiteral("白鹭"), QStringLiteral("濑户内"), QStringLiteral("赤城"),
          QStringLiteral("高峰"), QStringLiteral("新浦"), QStringLiteral("葵町"), QStringLiteral("霞之浦"),
          QStringLiteral("瑞穗"), QStringLiteral("苍海")}});

    definitions.push_back({140,
                           QStringLiteral("HSL"),
                           QStringLiteral("HSL"),
                           QStringLiteral("#336699"),
                           false,
                           false,
                           false,
                           {at(-1, 22, 0), at(0, 0, 30), at(0, 22, 30), at(0, 22, 30), at(1, 0, 45)},
                           {QStringLiteral("AL SAFA"), QStringLiteral("DUNE FC"), QStringLiteral("MARINA UTD"),
                            QStringLiteral("PEARL CITY"), QStringLiteral("OASIS SC"), QStringLiteral("FALCON FC"),
                            QStringLiteral("CORAL BAY"), QStringLiteral("DESERT STAR"), QStringLiteral("HARBOUR FC"),
                            QStringLiteral("NAJM CLUB"), QStringLiteral("SALT LAKE"), QStringLiteral("SUNRISE SC")}});

    return definitions;
}

} // namespace

const std::vector<LeagueDefinition> &leagueDefinitions() {
    static const std::vector<LeagueDefinition> definitions = makeDefinitions();
    return definitions;
}

} // namespace chenglan::sample
