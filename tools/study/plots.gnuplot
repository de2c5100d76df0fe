# The network study's figures, drawn from the tables network_study writes.
#   gnuplot -e "data='DIR'; out='DIR'" tools/study/plots.gnuplot

set datafile separator ","
set datafile columnheaders
set terminal pngcairo size 900,560 font "DejaVu Sans,11" noenhanced
set key top left box opaque
set grid lc rgb "#dddddd"
set style data linespoints
set pointsize 1.2

csv(name) = data . "/" . name . ".csv"
png(name) = out . "/" . name . ".png"
is(column_name, value) = strcol(column_name) eq value
scale_runs = "scale-100 scale-1000 scale-3000 scale-10000"
colors = "#1b9e77 #d95f02 #7570b3 #e7298a"
color(i) = word(colors, i)

# --- What a joining node's table holds as it ages --------------------------------------------
set output png("joiners")
set title "A node joining under churn: rows in its table, and rows whose neighbour holds it too"
set xlabel "seconds after the node started"
set ylabel "mean rows"
set logscale x
set xrange [4:700]
set yrange [0:12]
set key below maxrows 3
plot for [i=1:words(scale_runs)] csv("join_ages") \
       using (is("run", word(scale_runs, i)) ? column("age_s") : NaN):(column("rows")) \
       smooth unique with linespoints lw 2 dt 2 lc rgb color(i) title word(scale_runs, i) . " rows", \
     for [i=1:words(scale_runs)] csv("join_ages") \
       using (is("run", word(scale_runs, i)) ? column("age_s") : NaN):(column("mutual")) \
       smooth unique with linespoints lw 2 lc rgb color(i) title word(scale_runs, i) . " mutual", \
     csv("join_ages") using (is("run", "gateway-page10-3000") ? column("age_s") : NaN):(column("mutual")) \
       smooth unique with linespoints lw 2 pt 4 lc rgb "#666666" title "variant gateway-page10-3000 mutual"
unset logscale x
set autoscale
set key inside

# --- Neighbour-degree distribution ------------------------------------------------------------
set output png("degrees")
set title "Neighbours per online node at the end of the run"
set xlabel "neighbours in the table"
set ylabel "share of online nodes"
set xrange [-0.5:24.5]
set yrange [0:*]
set xtics 0,2,24
set key top left
variant_runs = "maxconn-8-1000 maxconn-12-1000 maxconn-24-1000"
variant_colors = "#666666 #a6761d #66a61e"
plot for [i=1:words(scale_runs)] csv("degrees") \
       using (is("run", word(scale_runs, i)) ? column("degree") : NaN):(column("share")) \
       lw 2 lc rgb color(i) title word(scale_runs, i), \
     for [i=1:words(variant_runs)] csv("degrees") \
       using (is("run", word(variant_runs, i)) ? column("degree") : NaN):(column("share")) \
       lw 2 dt 2 lc rgb word(variant_colors, i) title "variant " . word(variant_runs, i)
set autoscale x
set xtics autofreq

# --- Search reach and cost against network size -----------------------------------------------
set output png("search-reach")
set title "One search: share of the other nodes that answered it, and the messages it cost"
set xlabel "nodes online"
set ylabel "share of the other online nodes that answered"
set y2label "messages per search"
set logscale x
set logscale y2
set xrange [70:14000]
set yrange [0:1.05]
set y2range [100:100000]
set ytics nomirror
set y2tics
set key below maxrows 2
plot csv("summary") using (is("group", "scale") ? column("nodes") : NaN):(column("search_reach")) \
       axes x1y1 lw 2 pt 7 lc rgb color(1) title "share that answered (today: at most 2,000 asked)", \
     csv("summary") using (is("group", "scale") ? column("nodes") : NaN):(column("search_messages")) \
       axes x1y2 lw 2 pt 5 lc rgb color(2) title "messages per search (right)", \
     csv("summary") using (is("group", "ask") ? column("nodes") : NaN):(column("search_reach")) \
       axes x1y1 with points pt 6 ps 2.5 lc rgb color(1) title "variant: at most 20,000 asked", \
     csv("summary") using (is("group", "ask") ? column("nodes") : NaN):(column("search_messages")) \
       axes x1y2 with points pt 4 ps 2.5 lc rgb color(2) title "variant: messages per search"
unset logscale
unset y2tics
unset y2label
set ytics mirror
set autoscale

# --- Finding every source of a file -----------------------------------------------------------
set output png("sources")
set title "Holders of a file found: in the search results, and by the download's source search"
set xlabel "nodes online"
set ylabel "share of the holders found"
set logscale x
set xrange [70:14000]
set yrange [0:1.05]
set key inside bottom left
plot for [h in "1 10 100"] csv("summary") \
       using (is("group", "scale") ? column("nodes") : NaN):(column("found_" . h)) \
       lw 2 lc rgb color(h eq "1" ? 1 : h eq "10" ? 2 : 3) title "search, " . h . " holder(s)", \
     for [h in "1 10 100"] csv("summary") \
       using (is("group", "scale") ? column("nodes") : NaN):(column("sourced20_" . h)) \
       lw 2 dt 2 lc rgb color(h eq "1" ? 1 : h eq "10" ? 2 : 3) \
       title "source search by 20 s, " . h . " holder(s)", \
     csv("summary") using (is("group", "ask") ? column("nodes") : NaN):(column("found_1")) \
       with points pt 6 ps 2.5 lc rgb color(1) title "variant: 20,000 asked, search, 1 holder"
unset logscale x
set autoscale

set output png("source-times")
set title "When each holder that was found was found"
set xlabel "seconds after the search (solid) or the download (dashed) started"
set ylabel "share of the holders found"
set xrange [0:12]
set yrange [0:1.05]
set key inside bottom right
plot for [i=1:words(scale_runs)] csv("finds") \
       using ((is("run", word(scale_runs, i)) && is("phase", "search")) ? column("seconds") : NaN):(1) \
       smooth cnormal with lines lw 2 lc rgb color(i) title word(scale_runs, i) . " search", \
     for [i=1:words(scale_runs)] csv("finds") \
       using ((is("run", word(scale_runs, i)) && is("phase", "source")) ? column("seconds") : NaN):(1) \
       smooth cnormal with lines lw 2 dt 2 lc rgb color(i) title word(scale_runs, i) . " source"
set autoscale

# --- Traffic per node and minute, by family ---------------------------------------------------
set output png("traffic")
set title "Datagrams sent per online node and minute, by message family"
set xlabel ""
set ylabel "datagrams per node and minute"
set style data histograms
set style histogram rowstacked
set style fill solid 0.85 border -1
set boxwidth 0.75
set key outside right top noopaque
set xtics rotate by -40 left
set rmargin 10
set yrange [0:*]
families = "offer accept walk goodbye ping pong search source download other"
family_colors = "#a6cee3 #1f78b4 #e31a1c #fb9a99 #33a02c #b2df8a #ff7f00 #fdbf6f #cab2d6 #999999"
plot for [i=1:words(families)] csv("traffic") using (column(word(families, i))):xtic(1) \
       lc rgb word(family_colors, i) title word(families, i)
set style data linespoints
set xtics norotate
set rmargin -1
set key inside top left box opaque
set autoscale

# --- The gateway ------------------------------------------------------------------------------
set output png("gateway")
set title "A gateway: page requests per minute, and datagrams its node receives per minute"
set xlabel "nodes online"
set ylabel "per minute"
set logscale xy
set xrange [70:14000]
set key top left
plot csv("summary") using (is("group", "scale") ? column("nodes") : NaN):(column("gateway_requests_min")) \
       lw 2 pt 7 lc rgb color(1) title "page requests", \
     csv("summary") using (is("group", "scale") ? column("nodes") : NaN):(column("gateway_node_received_min")) \
       lw 2 pt 5 lc rgb color(2) title "datagrams to the gateway's node", \
     csv("summary") using (is("group", "scale") ? column("nodes") : NaN):(column("msgs_node_min")) \
       lw 2 pt 9 lc rgb color(3) title "datagrams per average node (sent)", \
     csv("summary") using (is("run", "gateway-page10-3000") ? column("nodes") : NaN):(column("gateway_node_received_min")) \
       with points pt 4 ps 2.5 lc rgb color(2) title "variant: page of 10 addresses, gateway's node", \
     csv("summary") using (is("run", "gateway-three-3000") ? column("nodes") : NaN):(column("gateway_node_received_min")) \
       with points pt 12 ps 2.5 lc rgb color(4) title "variant: three gateways, each gateway's node"
unset logscale
set autoscale

# --- Neighbour tables over the measured window ------------------------------------------------
set output png("timeline")
set title "Neighbour tables under churn (1% of the nodes replaced a minute)"
set xlabel "minute of protocol time"
set ylabel "share of tables that are full"
set y2label "mean neighbours"
set yrange [0:1]
set y2range [0:12]
set ytics nomirror
set y2tics
set key bottom right
plot for [i=1:words(scale_runs)] csv("timeline") \
       using (is("run", word(scale_runs, i)) ? column("minute") : NaN):(column("full_share")) \
       lw 2 lc rgb color(i) title word(scale_runs, i) . " full", \
     for [i=1:words(scale_runs)] csv("timeline") \
       using (is("run", word(scale_runs, i)) ? column("minute") : NaN):(column("mean_degree")) \
       axes x1y2 lw 2 dt 2 lc rgb color(i) title word(scale_runs, i) . " mean (right)"
unset y2tics
unset y2label
set ytics mirror
set autoscale

# --- Variants of 1,000 nodes ------------------------------------------------------------------
set output png("variants")
set terminal pngcairo size 1100,800 font "DejaVu Sans,10" noenhanced
set multiplot layout 2,2 title "Variants of the 1,000-node network (scale-1000 is the middle or marked point)"
set key top left
base(g) = is("group", g) || is("run", "scale-1000")

set title "Churn: walk and offer datagrams per node and minute"
set xlabel "share of nodes replaced per minute"
set ylabel "datagrams per node and minute"
plot csv("summary") using (base("churn") ? column("churn_per_minute") : NaN):(column("walk_node_min")) \
       smooth unique with linespoints lw 2 pt 7 lc rgb color(1) title "walk (ConnectRqr)", \
     csv("summary") using (base("churn") ? column("churn_per_minute") : NaN):(column("offer_node_min")) \
       smooth unique with linespoints lw 2 pt 5 lc rgb color(2) title "offers (ConnectNew)", \
     csv("summary") using (base("churn") ? column("churn_per_minute") : NaN):(column("msgs_node_min")) \
       smooth unique with linespoints lw 2 pt 9 lc rgb color(3) title "all"

set title "Walk hop counts scaled"
set xlabel "hop counts, percent of today's"
set ylabel "datagrams per node and minute"
set y2label "share of tables full"
set y2range [0:1]
set ytics nomirror
set y2tics
plot csv("summary") using (base("hops") ? column("walk_hops_percent") : NaN):(column("walk_node_min")) \
       smooth unique with linespoints lw 2 pt 7 lc rgb color(1) title "walk", \
     csv("summary") using (base("hops") ? column("walk_hops_percent") : NaN):(column("full_share")) \
       smooth unique axes x1y2 with linespoints lw 2 pt 5 lc rgb color(2) title "full tables (right)"
unset y2tics
unset y2label
set ytics mirror

set title "Datagram loss"
set xlabel "loss on every link"
set ylabel "share"
set yrange [0:1.05]
set key bottom left
plot csv("summary") using (base("loss") ? column("loss") : NaN):(column("mutual_share")) \
       smooth unique with linespoints lw 2 pt 7 lc rgb color(1) title "rows the other side holds too", \
     csv("summary") using (base("loss") ? column("loss") : NaN):(column("search_reach")) \
       smooth unique with linespoints lw 2 pt 5 lc rgb color(2) title "search: share that answered", \
     csv("summary") using (base("loss") ? column("loss") : NaN):(column("found_10")) \
       smooth unique with linespoints lw 2 pt 9 lc rgb color(3) title "search: share of 10 holders found", \
     csv("summary") using (base("loss") ? column("loss") : NaN):(column("full_share")) \
       smooth unique with linespoints lw 2 pt 11 lc rgb color(4) title "full tables"
set autoscale

set title "MaxConnections for every node (0 = by connection speed, today)"
set xlabel "MaxConnections"
set ylabel "datagrams per node and minute"
set key top left
plot csv("summary") using (is("group", "maxconn") ? column("max_connections") : NaN):(column("msgs_node_min")) \
       smooth unique with linespoints lw 2 pt 7 lc rgb color(1) title "all", \
     csv("summary") using (is("group", "maxconn") ? column("max_connections") : NaN):(column("walk_node_min")) \
       smooth unique with linespoints lw 2 pt 5 lc rgb color(2) title "walk", \
     csv("summary") using (is("group", "maxconn") ? column("max_connections") : NaN):(column("liveness_node_min")) \
       smooth unique with linespoints lw 2 pt 9 lc rgb color(3) title "ping and pong"
unset multiplot
