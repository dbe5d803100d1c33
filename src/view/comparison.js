// The page of two reports compared: a summary of what changed, the new report's treemap coloured
// by each folder's own change, the folders of the old report alone beside it, and the table of
// every folder of either report.
const data = JSON.parse(document.getElementById('page-data').textContent);
// The states and bounds in the order comparison.h declares them.
const stateNames = [
  'grew', 'shrank', 'unchanged', 'new', 'gone', 'below the threshold', 'beyond the depth',
  'unreadable', 'not reached'
];
const [GREW, SHRANK, UNCHANGED, NEW, GONE, BELOW, BEYOND, UNREADABLE, NOT_REACHED] =
    stateNames.keys();
const [EXACT, AT_LEAST, AT_MOST] = [0, 1, 2];

// [parent, name, old bytes or -1, new bytes or -1, state, bound, change, slack (how far the
// texts' rounding may put the change from the truth)]
function folderOfRow(row, index) {
  const [parent, name, old, now, state, bound, change, slack] = row;
  return {index, parent, name, old, now, state, bound, change, slack, area: Math.max(now, 0)};
}
const {folders, root} = folderTree(data.rows, folderOfRow, data.separator, data.folder);
if (root.synthetic) {
  Object.assign(root, {
    area: root.children.reduce((sum, f) => sum + f.area, 0),
    old: -1,
    now: -1,
    state: NOT_REACHED,
    bound: 3,
    change: 0
  });
}

// A change in bytes that is known, exactly or as a bound; null when nothing is.
const knownChange = (f) => f.bound <= AT_MOST ? f.change : null;
// A folder's own change: its change less its subfolders' (theirs are known on their own). A
// subfolder whose change is unknown leaves it in its parent's. An own change within the rounding
// of the texts it is worked out from is none.
for (const f of folders) {
  const change = knownChange(f);
  let slack = f.slack;
  let own = change;
  for (const g of f.children) {
    if (knownChange(g) === null) continue;
    own -= g.change;
    slack += g.slack;
  }
  f.own = change === null ? null : Math.abs(own) <= slack ? 0 : own;
  // Where a subfolder's change is only a bound, so is this one's own change: such a folder is
  // left out of the lists of those that changed most.
  f.ownBounded = f.children.some((g) => knownChange(g) !== null && g.bound !== EXACT);
}
if (root.synthetic) root.own = null;

const units = [[2 ** 40, 'TB'], [2 ** 30, 'GB'], [2 ** 20, 'MB']];
// A size as the reports write total sizes: three decimals of MB, GB or TB (of 2^20, 2^30 and 2^40
// bytes).
function sizeText(bytes) {
  const [unit, label] = bytes >= 2 ** 40 ? units[0] : bytes < 2 ** 30 ? units[2] : units[1];
  return `${(bytes / unit).toFixed(3)} ${label}`;
}
const signed = (bytes) => (bytes < 0 ? '\u2212' : '+') + sizeText(Math.abs(bytes));
// A change of the folder's in bytes, with ≥ or ≤ where only a bound is known.
const bounded = (f, bytes) => (f.bound === AT_LEAST    ? '\u2265 ' :
                                   f.bound === AT_MOST ? '\u2264 ' :
                                                         '') +
    signed(bytes);
function changeText(f) {
  if (f.state === UNCHANGED) return 'unchanged';
  return knownChange(f) === null ? 'unknown' : bounded(f, f.change);
}
function percentText(f) {
  if (f.bound !== EXACT || !(f.old > 0) || f.state === UNCHANGED) return '';
  const percent = (100 * f.change) / f.old;
  return `${percent < 0 ? '\u2212' : '+'}${Math.abs(percent).toFixed(1)}%`;
}
const sizeOr = (bytes) => bytes >= 0 ? sizeText(bytes) : '';
function stateText(f) {
  const where = f.now >= 0 ? 'in the old report' : 'in the new report';
  return f.state === BELOW || f.state === BEYOND || f.state === UNREADABLE ||
          f.state === NOT_REACHED ?
      `${stateNames[f.state]} ${where}` :
      stateNames[f.state];
}

// Colours of a diverging scale: grew warm, shrank cool, unchanged neutral, by a folder's own
// change against the largest own change of any folder, so that where most went shows at a
// glance.
const largest = folders.reduce((most, f) => Math.max(most, Math.abs(f.own || 0)), 0);
const [half, tenth] = [Math.max(largest / 2, 1), Math.max(largest / 10, 1)];
const scale = [
  [half, `grew by ${sizeText(half)} or more`, '#d6604d'],
  [tenth, `grew by ${sizeText(tenth)} to ${sizeText(half)}`, '#f4a582'],
  [1, `grew by less than ${sizeText(tenth)}`, '#fddbc7'],
  [-1, 'no change of its own', '#f2f2f2'],
  [-tenth, `shrank by less than ${sizeText(tenth)}`, '#d1e5f0'],
  [-half, `shrank by ${sizeText(tenth)} to ${sizeText(half)}`, '#92c5de'],
  [-Infinity, `shrank by ${sizeText(half)} or more`, '#4393c3'],
];
const unknownShade = '#d9d9d9';
function colour(f) {
  if (f.own === null) return unknownShade;
  return scale.find(([least]) => f.own >= least)[2];
}
const mark = (f) => f.state === NEW ? 'new' : f.own === null ? 'unknown' : '';

drawLegend(
    'Each folder coloured by its own change (its change less its subfolders\'):',
    scale.map(([, name, shade]) => [name, shade]).concat([
      ['new', scale[0][2], 'new'], ['change unknown', unknownShade, 'unknown']
    ]));

// The summary: the total change, the folders that changed most by their own change, and how
// many folders are in each state.
const byPath = (a, b) => a.path < b.path ? -1 : a.path > b.path ? 1 : 0;
function drawSummary() {
  const summary = document.getElementById('summary');
  summary.appendChild(element('h2', '', 'Summary'));
  if (!root.synthetic && root.bound === EXACT) {
    summary.appendChild(element(
        'p', 'total',
        `In all: ${sizeOr(root.old)} to ${sizeOr(root.now)}, ${changeText(root)}` +
            (percentText(root) ? ` (${percentText(root)})` : '') + '.'));
  }
  const counts = stateNames.map(() => 0);
  for (const f of folders) counts[f.state]++;
  summary.appendChild(element(
      'p', 'counts',
      stateNames.map((name, state) => counts[state] ? `${counts[state]} ${name}` : '')
              .filter(Boolean)
              .join(', ') +
          '.'));
  const changed = folders.filter((f) => f.own !== null && f.own !== 0 && !f.ownBounded);
  const lists = [
    ['Grew most', changed.filter((f) => f.own > 0).sort((a, b) => b.own - a.own || byPath(a, b))],
    ['Shrank most', changed.filter((f) => f.own < 0).sort((a, b) => a.own - b.own || byPath(a, b))],
  ];
  const box = element('div', 'most');
  for (const [title, ranked] of lists) {
    const part = element('div');
    part.appendChild(element('h3', '', `${title}, by their own change`));
    const list = element('ol');
    for (const f of ranked.slice(0, 10)) {
      const item = element('li');
      // A folder on the map is a link that zooms there.
      const name = f.area > 0 ? element('a', '', f.path) : element('span', '', f.path);
      if (f.area > 0) name.href = `#${encodeURIComponent(f.path)}`;
      item.appendChild(name);
      item.appendChild(element(
          'span', 'change',
          ` ${bounded(f, f.own)} own` + (f.own !== f.change ? `, ${changeText(f)} in all` : '') +
              (f.state === GREW || f.state === SHRANK ? '' : ` (${stateText(f)})`)));
      list.appendChild(item);
    }
    part.appendChild(ranked.length ? list : element('p', 'none', 'None.'));
    box.appendChild(part);
  }
  summary.appendChild(box);
}

// The folders the new report lacks, beside the map: they have no area on it.
function drawOldOnly() {
  const oldOnly = folders.filter((f) => f.now < 0).sort((a, b) => b.old - a.old);
  if (!oldOnly.length) return;
  const aside = element('aside', 'old-only');
  aside.id = 'old-only';
  aside.appendChild(element('h3', '', `In the old report only (${oldOnly.length})`));
  const list = element('ul');
  list.id = 'old-only-list';
  aside.appendChild(list);
  document.getElementById('map-row').appendChild(aside);
  showList('old-only', 'old-only-list', oldOnly.length, (i) => {
    const f = oldOnly[i];
    const item = element('li', `state-${f.state}`);
    item.appendChild(element('span', 'old-only-path', f.path));
    item.appendChild(element('span', 'old-only-size', ` ${sizeOr(f.old)}, ${stateText(f)}`));
    return item;
  });
}

drawSummary();
drawOldOnly();
showMap({
  folders,
  root,
  colour,
  mark,
  sizeText: (f) =>
      f.now >= 0 ? `${sizeText(f.now)} ${f.state === UNCHANGED ? '' : changeText(f)}` : '',
  tip: (f) => f.synthetic ? [] :
                            [
                              ['old size', sizeOr(f.old) || '(none)'],
                              ['new size', sizeOr(f.now) || '(none)'],
                              ['change', `${changeText(f)} ${percentText(f)}`.trim()],
                              ['own change', f.own === null ? 'unknown' : bounded(f, f.own)],
                              ['state', stateText(f)],
                            ],
  emptyText: 'Nothing to draw: the new report\'s folders hold no bytes.',
});

// Sorting keys: a folder without a size, or whose change is unknown, sorts as the least.
showTable(
    folders, {
      path: pathColumn,
      old: numberColumn('old size', (f) => f.old, (f) => sizeOr(f.old)),
      now: numberColumn('new size', (f) => f.now, (f) => sizeOr(f.now)),
      change: numberColumn(
          'change', (f) => knownChange(f) === null ? -Infinity : f.change, changeText,
          'most shrunk first', 'most grown first'),
      percent: numberColumn(
          'change in %', (f) => percentText(f) ? f.change / f.old : -Infinity, percentText,
          'most shrunk first', 'most grown first'),
      state: {
        name: 'state',
        key: (f) => f.state,
        falling: false,
        orders: ['state, grew first', 'state, not reached first'],
        cell: stateText,
        cellClass: (f) => `state-${f.state}`
      },
    },
    'change', 'folders');
