// The page of one report: its folders' treemap coloured by the age of their latest file, the
// table of its rows and the list of the folders that could not be read.
const data = JSON.parse(document.getElementById('page-data').textContent);
const ages = [
  [7, 'within a week', '#f4a582'],
  [31, 'within a month', '#fdd49e'],
  [92, 'within 3 months', '#fff2ae'],
  [366, 'within a year', '#d9f0d3'],
  [1096, 'within 3 years', '#c6dbef'],
  [Infinity, 'older', '#cbc9e2'],
];
const noFiles = ['no files', '#f4f4f4'];
const unknownStamp = ['stamp not understood', '#d0d0d0'];

// [parent, name, total bytes, bytes on disk, file count, total size text, size on disk text,
// stamp text, stamp kind (0 a time, 1 no files, 2 not understood), stamp seconds]
function folderOfRow(row, index) {
  const [parent, name, total, disk, count, totalText, diskText, stampText, stampKind, stampSeconds] =
      row;
  return {
    index,
    parent,
    name,
    area: total,
    total,
    disk,
    count,
    totalText,
    diskText,
    stampText,
    stampKind,
    stampSeconds
  };
}
const {folders, root} = folderTree(data.rows, folderOfRow, data.separator, data.folder);
if (root.synthetic) {
  Object.assign(root, {area: root.children.reduce((sum, f) => sum + f.total, 0), stampKind: 2});
}

// Ages count back from the newest stamp, leaving out stamps later than the page's making (a
// file dated in the future would make every other folder look old).
const newest = folders.reduce(
    (most, f) =>
        f.stampKind === 0 && f.stampSeconds <= data.made ? Math.max(most, f.stampSeconds) : most,
    -Infinity);
function colour(folder) {
  if (folder.stampKind === 1) return noFiles[1];
  if (folder.stampKind !== 0) return unknownStamp[1];
  const days = Math.max(0, newest - folder.stampSeconds) / 86400;
  return ages.find(([most]) => days <= most)[2];
}

const reference =
    newest > -Infinity ? ` (${new Date(newest * 1000).toISOString().slice(0, 10)})` : '';
drawLegend(
    'Latest file written, counted back from the newest in the report that is not later than ' +
        `the page${reference}:`,
    ages.map(([, name, shade]) => [name, shade]).concat([noFiles, unknownStamp]));

showMap({
  folders,
  root,
  colour,
  mark: () => '',
  sizeText: (f) => f.totalText || '',
  tip: (f) => f.index < 0 ?
      [] :
      [
        ['total size', f.totalText], ['size on disk', f.diskText], ['file count', String(f.count)],
        ['latest file stamp', f.stampText || '(none)']
      ],
  emptyText: 'Nothing to draw: the folders hold no bytes.',
});

showTable(
    folders, {
      path: pathColumn,
      total: numberColumn('total size', (f) => f.total, (f) => f.totalText),
      disk: numberColumn('size on disk', (f) => f.disk, (f) => f.diskText),
      count: numberColumn(
          'file count', (f) => f.count, (f) => String(f.count), 'fewest first', 'most first'),
      stamp: {
        name: 'latest file stamp',
        key: (f) => f.stampKind === 0 ? f.stampSeconds : -Infinity,
        falling: true,
        orders: ['latest file stamp, earliest first', 'latest file stamp, latest first'],
        cell: (f) => f.stampText,
        cellClass: (f) => f.stampKind === 0 ? '' : 'unknown'
      },
    },
    'total', 'folders');

if (data.errors.length) {
  document.getElementById('errors-section').hidden = false;
  showList('errors-box', 'errors', data.errors.length, (i) => {
    const [path, text] = data.errors[i];
    const item = element('li');
    item.appendChild(element('span', 'error-path', path));
    item.appendChild(element('span', 'error-text', text || '(the system gave no message)'));
    return item;
  });
}
